#pragma once

// What the crashing child and the tests that run it agree on.

#include <cstddef>

namespace crashchild {

constexpr const char* kApplicationIdentifier = "app.vellox/crash-test";
constexpr const char* kApplicationVersion = "7";
constexpr const char* kMarketingVersion = "1.2";

// Binary on purpose: NUL bytes and high bytes must survive unchanged.
constexpr unsigned char kCustomData[] = {'v', 'x', 0x00, 0x01, 0xFF, 0x7F, 0x00, 'e', 'n', 'd'};

// The child's extra threads, parked in vellox_parked_worker when it crashes.
constexpr int kParkedThreads = 2;

// Offset of the field a null write stores to, so the fault address is known.
constexpr unsigned long kNullWriteOffset = 0x10;

// How the preloaded spy ends a child whose crash handler allocated or locked.
constexpr int kSpyExitCode = 86;

} // namespace crashchild
