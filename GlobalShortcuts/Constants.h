#pragma once

#include <QProcessEnvironment>

#include <optional>

namespace GlobalShortcuts::Constants {

// Whether the process runs in an app sandbox: the environment holds
// "APP_SANDBOX_CONTAINER_ID", whatever its value. Read once.
bool isSandboxed();
bool isSandboxed(const QProcessEnvironment& environment);

// What the recorder needs to know of the system it runs on.
struct Host {
    // The macOS version, 0.0 on any other system.
    int macOSMajor = 0;
    int macOSMinor = 0;
    bool sandboxed = false;
};
Host host();

// macOS 15.0 and 15.1 do not deliver hot keys made of Option (with or without
// Shift) alone to sandboxed programs, so such shortcuts are refused there.
bool refusesOptionOnlyShortcuts(const Host& host);

namespace detail {
// Stands in for the real host until reset with none (tests).
void setHostOverride(std::optional<Host> host);
} // namespace detail

} // namespace GlobalShortcuts::Constants
