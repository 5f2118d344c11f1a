#pragma once

#include <optional>

// The kernel's version, read from "kernel.osrelease" (for example
// "6.1.0-18-amd64" gives 6, 1, 0).
struct VXCrashHostInfo {
    struct Version {
        unsigned major = 0;
        unsigned minor = 0;
        unsigned revision = 0;
    };

    Version darwinVersion;

    // Empty when the value cannot be read.
    static std::optional<VXCrashHostInfo> currentHostInfo();
    // Parses a release text; what does not match is logged and left 0.
    static VXCrashHostInfo fromRelease(const char* release);
};
