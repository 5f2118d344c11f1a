#include "crash-reporting/reporter/VXCrashThreadList.h"
#include "crash-reporting/reporter/VXCrashThreadSignals.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <pthread.h>
#include <string>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

namespace {

// Generous: the thread must be scheduled to reach its wait on a busy machine.
constexpr auto kSignalThreadDeadline = std::chrono::seconds(20);

enum class SignalWait { Condition, Sigwait };

struct SignalThreadCase {
    const char* name;
    // Signals the thread blocks: none, only the signal, or all but it.
    enum { None, Only, AllBut } blocks;
    SignalWait wait;
    bool couldTake;
};

// A thread with the case's mask that waits until it is let go.
class SignalThread {
public:
    SignalThread(const SignalThreadCase& c, int signo) : wait_(c.wait)
    {
        thread_ = std::thread([this, c, signo] {
            sigset_t mask;
            sigemptyset(&mask);
            if (c.blocks == SignalThreadCase::Only) {
                sigaddset(&mask, signo);
            } else if (c.blocks == SignalThreadCase::AllBut) {
                sigfillset(&mask);
                sigdelset(&mask, signo);
            }
            if (c.wait == SignalWait::Sigwait)
                sigfillset(&mask);
            pthread_sigmask(SIG_SETMASK, &mask, nullptr);
            tid_.store(pid_t(syscall(SYS_gettid)));
            if (c.wait == SignalWait::Sigwait) {
                int taken = 0;
                while (taken != SIGUSR1)
                    sigwait(&mask, &taken);
            } else {
                while (!done_.load())
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
        while (tid_.load() == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ~SignalThread()
    {
        done_.store(true);
        if (wait_ == SignalWait::Sigwait)
            pthread_kill(thread_.native_handle(), SIGUSR1);
        thread_.join();
    }
    pid_t tid() const { return tid_.load(); }

private:
    const SignalWait wait_;
    std::atomic<pid_t> tid_{0};
    std::atomic<bool> done_{false};
    std::thread thread_;
};

// True once the thread sleeps ("S" in its stat) before the deadline.
bool waitUntilAsleep(pid_t tid)
{
    const std::string path = "/proc/self/task/" + std::to_string(tid) + "/stat";
    const auto deadline = std::chrono::steady_clock::now() + kSignalThreadDeadline;
    while (std::chrono::steady_clock::now() < deadline) {
        char state = 0;
        if (FILE* stat = std::fopen(path.c_str(), "re")) {
            char line[512] = {};
            const char* close = std::fgets(line, sizeof line, stat) ? std::strrchr(line, ')') : nullptr;
            if (close && close[1] == ' ')
                state = close[2];
            std::fclose(stat);
        }
        if (state == 'S')
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

std::atomic<int> g_withdrawnHandlerRuns{0};

void countWithdrawnHandlerRun(int, siginfo_t*, void*)
{
    g_withdrawnHandlerRuns.fetch_add(1);
}

} // namespace

// The signal bit is read from the thread's own mask, so a mask holding only
// its neighbours tells it apart from one holding it. A thread in sigwait shows
// the waited signals unblocked while it sleeps, and is told by its call.
TEST(VXCrashThreadSignals, ThreadsThatCouldTakeTheSignalAsTheirOwn)
{
    const int signo = vxcrash_thread_stop_signal();
    const SignalThreadCase cases[] = {
        {"blocks only the signal", SignalThreadCase::Only, SignalWait::Condition, true},
        {"blocks every signal but it", SignalThreadCase::AllBut, SignalWait::Condition, false},
        {"blocks nothing", SignalThreadCase::None, SignalWait::Condition, false},
        {"takes every signal with sigwait", SignalThreadCase::None, SignalWait::Sigwait, true},
    };
    for (const SignalThreadCase& c : cases) {
        SCOPED_TRACE(c.name);
        const SignalThread thread(c, signo);
        // Until it sleeps in its wait the thread still shows the signal
        // blocked; only in the wait does its call alone tell.
        if (c.wait == SignalWait::Sigwait) {
            ASSERT_TRUE(waitUntilAsleep(thread.tid()));
        }
        EXPECT_EQ(vxcrash_async_thread_could_take_as_its_own(thread.tid(), signo), c.couldTake);
    }
}

// Requests queued to a thread that blocks the signal are dropped, so none
// reaches the handler when the thread unblocks it; the handler stays as it
// was, flags and mask included, and runs for the next request.
TEST(VXCrashThreadSignals, WithdrawingDropsEveryPendingInstanceAndKeepsTheHandler)
{
    // One the reporter leaves alone, so this test owns it.
    const int signo = SIGRTMAX - 6;
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_sigaction = countWithdrawnHandlerRun;
    action.sa_flags = SA_SIGINFO | SA_RESTART;
    sigfillset(&action.sa_mask);
    struct sigaction saved;
    ASSERT_EQ(sigaction(signo, &action, &saved), 0);
    g_withdrawnHandlerRuns.store(0);

    std::atomic<pid_t> tid{0};
    std::atomic<int> step{0};
    std::atomic<bool> pendingBefore{false};
    std::atomic<bool> pendingAfter{true};
    std::thread blocker([&] {
        sigset_t mask;
        sigemptyset(&mask);
        sigaddset(&mask, signo);
        pthread_sigmask(SIG_BLOCK, &mask, nullptr);
        tid.store(pid_t(syscall(SYS_gettid)));
        while (step.load() < 1)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        sigset_t pending;
        sigpending(&pending);
        pendingBefore.store(sigismember(&pending, signo) == 1);
        step.store(2);
        while (step.load() < 3)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        sigpending(&pending);
        pendingAfter.store(sigismember(&pending, signo) == 1);
        pthread_sigmask(SIG_UNBLOCK, &mask, nullptr);
        step.store(4);
        while (step.load() < 5)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    while (tid.load() == 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));

    ASSERT_EQ(syscall(SYS_tgkill, getpid(), tid.load(), signo), 0);
    ASSERT_EQ(syscall(SYS_tgkill, getpid(), tid.load(), signo), 0);
    step.store(1);
    while (step.load() < 2)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    vxcrash_async_signal_withdraw_pending(signo);
    step.store(3);
    while (step.load() < 4)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));

    struct sigaction after;
    ASSERT_EQ(sigaction(signo, nullptr, &after), 0);
    // A request after the withdrawal reaches the handler again.
    ASSERT_EQ(syscall(SYS_tgkill, getpid(), tid.load(), signo), 0);
    const auto deadline = std::chrono::steady_clock::now() + kSignalThreadDeadline;
    while (g_withdrawnHandlerRuns.load() < 1 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    step.store(5);
    blocker.join();
    sigaction(signo, &saved, nullptr);

    EXPECT_TRUE(pendingBefore.load());
    EXPECT_FALSE(pendingAfter.load());
    EXPECT_EQ(after.sa_sigaction, &countWithdrawnHandlerRun);
    EXPECT_EQ(after.sa_flags & (SA_SIGINFO | SA_RESTART), SA_SIGINFO | SA_RESTART);
    EXPECT_EQ(sigismember(&after.sa_mask, SIGUSR2), 1);
    EXPECT_EQ(g_withdrawnHandlerRuns.load(), 1);
}
