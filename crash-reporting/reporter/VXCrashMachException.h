#pragma once

#include "crash-reporting/reporter/VXCrashReporterErrors.h"
#include "crash-reporting/reporter/VXCrashSignalInfo.h"

#include <cstdint>
#include <memory>

// Mach exceptions are the other desktop system's kernel channel for faults.
// This system has none: the exception server answers "unavailable" and the
// reporter captures signals instead. The mapping from an exception to the
// matching signal stays, since reports from that system carry exceptions.

enum : uint64_t {
    VXCRASH_EXC_BAD_ACCESS = 1,
    VXCRASH_EXC_BAD_INSTRUCTION = 2,
    VXCRASH_EXC_ARITHMETIC = 3,
    VXCRASH_EXC_EMULATION = 4,
    VXCRASH_EXC_SOFTWARE = 5,
    VXCRASH_EXC_BREAKPOINT = 6,
};

// Exception mask of the server port: bad access, bad instruction, arithmetic,
// software and breakpoint; guard exceptions are added on kernels that have them.
constexpr uint32_t kVXCrashMachExceptionMask = 0x6E;
constexpr uint32_t kVXCrashMachExceptionMaskWithGuard = 0x106E;

// Maps an exception to its signal number, code and fault address (the second
// code). False when there are fewer than two codes or the type has no signal.
bool vxcrash_async_mach_exception_get_siginfo(uint64_t exception_type, const uint64_t* codes, uint32_t code_count,
                                              uint64_t cpu_type, vxcrash_log_bsd_signal_info* out);

using vxcrash_mach_exception_callback = int (*)(uint64_t task, uint64_t thread, uint64_t exception_type,
                                                const uint64_t* codes, uint32_t code_count, void* context);

class VXCrashMachExceptionServer {
public:
    static constexpr const char* kUnavailableMessage = "Mach exceptions are unavailable on this system";

    // Always null here, with an operating-system error saying so.
    static std::unique_ptr<VXCrashMachExceptionServer> create(vxcrash_mach_exception_callback callback, void* context,
                                                              VXCrashReporterError* error);

private:
    VXCrashMachExceptionServer() = default;
};
