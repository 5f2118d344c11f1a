#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <sys/types.h>

// Facts about one process from the kernel's process table (/proc/<pid>).
struct VXCrashProcessInfo {
    struct StartTime {
        int64_t seconds = 0;
        int64_t microseconds = 0;
    };

    pid_t processID = 0;
    // Empty when the name is not valid UTF-8 from its first byte.
    std::optional<std::string> processName;
    pid_t parentProcessID = 0;
    bool traced = false;
    StartTime startTime;

    bool isTraced() const { return traced; }

    static std::optional<VXCrashProcessInfo> currentProcessInfo();
    // Empty when the process cannot be read.
    static std::optional<VXCrashProcessInfo> withProcessID(pid_t pid);
};
