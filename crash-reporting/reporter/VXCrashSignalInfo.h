#pragma once

#include <cstdint>

// What the writer records of the signal that ended the process.
struct vxcrash_log_bsd_signal_info {
    int signo;
    int code;
    // The fault address; 0 for signals that carry none.
    uint64_t address;
};

struct vxcrash_log_mach_signal_info {
    uint64_t type;
    const uint64_t* codes;
    uint32_t code_count;
};

struct vxcrash_log_signal_info {
    const vxcrash_log_bsd_signal_info* bsd_info;
    // Null on this system, which has no Mach exceptions.
    const vxcrash_log_mach_signal_info* mach_info;
};
