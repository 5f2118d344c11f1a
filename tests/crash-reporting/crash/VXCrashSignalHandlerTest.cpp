#include "crash-reporting/reporter/VXCrashSignalHandler.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <unistd.h>

// Every case installs real signal actions, so each runs in a child of its own.

namespace {

void say(const char* text)
{
    (void)!write(STDERR_FILENO, text, std::strlen(text));
}

bool forwardingCallback(int signo, siginfo_t* info, ucontext_t* uap, void*, VXCrashSignalHandlerCallback* next)
{
    say("callback;");
    return VXCrashSignalHandlerForward(next, signo, info, uap);
}

bool handlingCallback(int, siginfo_t*, ucontext_t*, void*, VXCrashSignalHandlerCallback*)
{
    say("handled;");
    return true;
}

void previousSigInfo(int, siginfo_t*, void*)
{
    say("previous;");
    _exit(3);
}

void installPrevious(void (*action)(int, siginfo_t*, void*), void (*handler)(int))
{
    struct sigaction previous;
    std::memset(&previous, 0, sizeof previous);
    sigemptyset(&previous.sa_mask);
    if (action) {
        previous.sa_sigaction = action;
        previous.sa_flags = SA_SIGINFO;
    } else {
        previous.sa_handler = handler;
    }
    sigaction(SIGUSR2, &previous, nullptr);
}

void registerCallback(vxcrash_signal_callback_fn callback)
{
    VXCrashReporterError error;
    if (!VXCrashSignalHandler::sharedHandler().registerHandlerForSignal(SIGUSR2, callback, nullptr, &error))
        _exit(9);
}

} // namespace

TEST(VXCrashSignalHandler, CallbacksRunNewestFirstThenThePreviousHandler)
{
    EXPECT_EXIT(
        {
            installPrevious(previousSigInfo, nullptr);
            registerCallback(forwardingCallback);
            raise(SIGUSR2);
            _exit(0);
        },
        testing::ExitedWithCode(3), "callback;previous;");
}

TEST(VXCrashSignalHandler, ACallbackThatHandlesTheSignalEndsTheChain)
{
    EXPECT_EXIT(
        {
            installPrevious(previousSigInfo, nullptr);
            registerCallback(forwardingCallback);
            registerCallback(handlingCallback);
            raise(SIGUSR2);
            _exit(0);
        },
        testing::ExitedWithCode(0), "^handled;$");
}

TEST(VXCrashSignalHandler, WithoutAPreviousHandlerTheSignalEndsTheProcess)
{
    EXPECT_EXIT(
        {
            installPrevious(nullptr, SIG_DFL);
            registerCallback(forwardingCallback);
            raise(SIGUSR2);
            _exit(0);
        },
        testing::KilledBySignal(SIGUSR2), "callback;");
}

TEST(VXCrashSignalHandler, AnIgnoredSignalStaysIgnored)
{
    EXPECT_EXIT(
        {
            installPrevious(nullptr, SIG_IGN);
            registerCallback(forwardingCallback);
            raise(SIGUSR2);
            _exit(0);
        },
        testing::ExitedWithCode(0), "callback;");
}

TEST(VXCrashSignalHandler, RegisteringASignalAgainKeepsItsInstalledAction)
{
    EXPECT_EXIT(
        {
            registerCallback(forwardingCallback);
            installPrevious(nullptr, SIG_IGN);
            registerCallback(handlingCallback);
            struct sigaction current;
            sigaction(SIGUSR2, nullptr, &current);
            _exit(current.sa_handler == SIG_IGN ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}

TEST(VXCrashSignalHandler, ReRegisteringAfterAResetDoesNotChainToItself)
{
    EXPECT_EXIT(
        {
            registerCallback(forwardingCallback);
            VXCrashSignalHandler::resetHandlers();
            registerCallback(forwardingCallback);
            raise(SIGUSR2);
            _exit(0);
        },
        testing::KilledBySignal(SIGUSR2), "^callback;$");
}

TEST(VXCrashSignalHandler, TheSameCallbackRunsOncePerSignal)
{
    EXPECT_EXIT(
        {
            installPrevious(previousSigInfo, nullptr);
            registerCallback(forwardingCallback);
            VXCrashReporterError error;
            VXCrashSignalHandler::sharedHandler().registerHandlerForSignal(SIGUSR1, forwardingCallback, nullptr, &error);
            raise(SIGUSR2);
            _exit(0);
        },
        testing::ExitedWithCode(3), "^callback;previous;$");
}

TEST(VXCrashSignalHandler, InstallsAnAlternateStackForTheRegisteringThread)
{
    EXPECT_EXIT(
        {
            stack_t none{};
            none.ss_flags = SS_DISABLE;
            sigaltstack(&none, nullptr);
            registerCallback(forwardingCallback);
            stack_t current;
            sigaltstack(nullptr, &current);
            _exit(!(current.ss_flags & SS_DISABLE) && current.ss_size >= VXCrashSignalHandler::kAlternateStackSize
                      ? 0
                      : 1);
        },
        testing::ExitedWithCode(0), "");
}
