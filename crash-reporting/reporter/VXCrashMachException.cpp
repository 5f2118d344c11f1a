#include "crash-reporting/reporter/VXCrashMachException.h"

#include <cerrno>
#include <csignal>

namespace {

constexpr uint64_t kKernInvalidAddress = 1;
constexpr uint64_t kSoftSigsys = 0x10000;
constexpr uint64_t kSoftSigpipe = 0x10001;
constexpr uint64_t kSoftSigabrt = 0x10002;
constexpr uint64_t kSoftSigkill = 0x10003;

#ifdef SIGEMT
constexpr int kSigemt = SIGEMT;
#else
// The other system's number; this one has no emulation-trap signal.
constexpr int kSigemt = 7;
#endif

} // namespace

bool vxcrash_async_mach_exception_get_siginfo(uint64_t exception_type, const uint64_t* codes, uint32_t code_count,
                                              uint64_t, vxcrash_log_bsd_signal_info* out)
{
    if (code_count < 2 || !codes)
        return false;
    out->address = codes[1];
    out->code = 0;
    switch (exception_type) {
    case VXCRASH_EXC_BAD_ACCESS:
        if (codes[0] == kKernInvalidAddress) {
            out->signo = SIGSEGV;
            out->code = SEGV_MAPERR;
        } else {
            out->signo = SIGBUS;
            out->code = BUS_ADRERR;
        }
        return true;
    case VXCRASH_EXC_BAD_INSTRUCTION:
        out->signo = SIGILL;
        return true;
    case VXCRASH_EXC_ARITHMETIC:
        out->signo = SIGFPE;
        return true;
    case VXCRASH_EXC_EMULATION:
        out->signo = kSigemt;
        return true;
    case VXCRASH_EXC_SOFTWARE:
        switch (codes[0]) {
        case kSoftSigsys:
            out->signo = SIGSYS;
            break;
        case kSoftSigpipe:
            out->signo = SIGPIPE;
            break;
        case kSoftSigkill:
            out->signo = SIGKILL;
            break;
        case kSoftSigabrt:
        default:
            out->signo = SIGABRT;
            break;
        }
        return true;
    case VXCRASH_EXC_BREAKPOINT:
        out->signo = SIGTRAP;
        out->code = TRAP_BRKPT;
        return true;
    default:
        return false;
    }
}

std::unique_ptr<VXCrashMachExceptionServer> VXCrashMachExceptionServer::create(vxcrash_mach_exception_callback, void*,
                                                                                VXCrashReporterError* error)
{
    vxcrash_set_error(error, vxcrash_os_error(QString::fromLatin1(kUnavailableMessage),
                                                         ENOTSUP));
    return nullptr;
}
