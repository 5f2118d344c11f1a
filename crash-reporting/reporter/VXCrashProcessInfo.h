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

    // When a process started, in clock ticks after boot: with its pid, this
    // tells one process from a later one that reuses the pid. Pid 0 is this
    // process. False when the process cannot be read. Async-signal-safe.
    static bool startTicks(pid_t pid, uint64_t* ticks);
    // The boot time and clock rate that turn start ticks into a time.
    struct TickClock {
        int64_t bootSeconds = 0;
        long ticksPerSecond = 0;
        // Empty when the boot time cannot be read.
        static std::optional<TickClock> current();
        // Async-signal-safe.
        StartTime startTime(uint64_t ticks) const;
    };
};
