#pragma once

// The crash reporter's own diagnostic lines, each prefixed "[VXCrashReporter] "
// by the caller's format, go to the system log. Ordinary context only.
void vxcrash_log(const char* format, ...) __attribute__((format(printf, 1, 2)));
