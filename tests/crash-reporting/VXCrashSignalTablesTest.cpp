#include "crash-reporting/reporter/VXCrashMachException.h"
#include "crash-reporting/reporter/VXCrashSignalNames.h"

#include <gtest/gtest.h>

#include <csignal>
#include <string>

namespace {

std::string orNull(const char* text)
{
    return text ? text : "(null)";
}

} // namespace

TEST(VXCrashSignalNames, UseThisSystemsNumbers)
{
    struct Case {
        int signo;
        int code;
        const char* name;
        const char* codeName;
    };
    const Case cases[] = {
        {7, 2, "SIGBUS", "BUS_ADRERR"},      // SIGBUS is 7 here, not 10
        {8, 1, "SIGFPE", "FPE_INTDIV"},      // FPE_INTDIV is 1
        {4, 2, "SIGILL", "ILL_ILLOPN"},      // ILL_ILLOPN is 2
        {11, 1, "SIGSEGV", "SEGV_MAPERR"},
        {11, 2, "SIGSEGV", "SEGV_ACCERR"},
        {6, 0, "SIGABRT", "#0"},             // never its alias SIGIOT
        {5, 0, "SIGTRAP", "#0"},
        {5, 2, "SIGTRAP", "TRAP_TRACE"},
        {10, 0, "SIGUSR1", "(null)"},
        {31, 0, "SIGSYS", "(null)"},
        {0, 0, "(null)", "(null)"},
        {SIGRTMIN, 0, "(null)", "(null)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.signo);
        EXPECT_EQ(orNull(vxcrash_async_signal_signame(c.signo)), c.name);
        EXPECT_EQ(orNull(vxcrash_async_signal_sigcode(c.signo, c.code)), c.codeName);
    }
}

TEST(VXCrashMachException, MapsExceptionsToSignals)
{
    struct Case {
        const char* name;
        uint64_t type;
        uint64_t code0;
        int signo;
        int code;
    };
    const Case cases[] = {
        {"bad access, invalid address", VXCRASH_EXC_BAD_ACCESS, 1, SIGSEGV, SEGV_MAPERR},
        {"bad access, protection", VXCRASH_EXC_BAD_ACCESS, 2, SIGBUS, BUS_ADRERR},
        {"bad instruction", VXCRASH_EXC_BAD_INSTRUCTION, 0, SIGILL, 0},
        {"arithmetic", VXCRASH_EXC_ARITHMETIC, 0, SIGFPE, 0},
        {"software kill", VXCRASH_EXC_SOFTWARE, 0x10003, SIGKILL, 0},
        {"software pipe", VXCRASH_EXC_SOFTWARE, 0x10001, SIGPIPE, 0},
        {"software, anything else", VXCRASH_EXC_SOFTWARE, 0x20000, SIGABRT, 0},
        {"breakpoint", VXCRASH_EXC_BREAKPOINT, 0, SIGTRAP, TRAP_BRKPT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const uint64_t codes[] = {c.code0, 0xBAD0};
        vxcrash_log_bsd_signal_info info{};
        ASSERT_TRUE(vxcrash_async_mach_exception_get_siginfo(c.type, codes, 2, 0, &info));
        EXPECT_EQ(info.signo, c.signo);
        EXPECT_EQ(info.code, c.code);
        EXPECT_EQ(info.address, 0xBAD0u);
    }
    const uint64_t codes[] = {1, 2};
    vxcrash_log_bsd_signal_info info{};
    EXPECT_FALSE(vxcrash_async_mach_exception_get_siginfo(VXCRASH_EXC_BAD_ACCESS, codes, 1, 0, &info));
    EXPECT_FALSE(vxcrash_async_mach_exception_get_siginfo(99, codes, 2, 0, &info));
}

TEST(VXCrashMachException, ServerIsUnavailable)
{
    VXCrashReporterError error;
    EXPECT_EQ(VXCrashMachExceptionServer::create(nullptr, nullptr, &error), nullptr);
    EXPECT_EQ(error.code, VXCrashReporterErrorOperatingSystem);
    EXPECT_EQ(error.localizedDescription, VXCrashMachExceptionServer::kUnavailableMessage);
}
