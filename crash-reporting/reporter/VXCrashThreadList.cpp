#include "crash-reporting/reporter/VXCrashThreadList.h"

#include "crash-reporting/reporter/VXCrashThreadSignals.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <linux/futex.h>
#include <mutex>
#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

enum SlotState : uint32_t {
    Free = 0,   // not asked: the caller, or a thread that could take the signal as its own
    Requested,  // signal sent, no answer yet
    Stopped,    // context saved, waiting for release
    Abandoned,  // did not answer in time
    Released,   // may go on
    Departed,   // handler has left the slot
};

struct Slot {
    pid_t tid;
    std::atomic<uint32_t> state;
    ucontext_t context;
};

Slot g_slots[kVXCrashMaxThreads];
size_t g_count = 0;
std::atomic<bool> g_busy{false};
std::atomic<bool> g_installed{false};
std::mutex g_installMutex;

// How long a stopped thread waits for its release at most, so a reporter that
// never resumes cannot hang a live process forever. Generous: threads are
// walked one after the other, and a deep stack before them (an overflow,
// symbolicated, on a loaded machine) can take the writer several seconds.
constexpr long kStoppedWaitLimitMs = 60000;
// How long resuming waits for the handlers to leave their slots.
constexpr long kDepartureWaitMs = 50;

long monotonicMs()
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000 + now.tv_nsec / 1000000;
}

void futexWait(std::atomic<uint32_t>* word, uint32_t expected, long timeoutMs)
{
    struct timespec timeout{timeoutMs / 1000, (timeoutMs % 1000) * 1000000};
    syscall(SYS_futex, reinterpret_cast<uint32_t*>(word), FUTEX_WAIT_PRIVATE, expected, &timeout, nullptr, 0);
}

void futexWake(std::atomic<uint32_t>* word)
{
    syscall(SYS_futex, reinterpret_cast<uint32_t*>(word), FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
}

void pause(long microseconds)
{
    struct timespec interval{0, microseconds * 1000};
    nanosleep(&interval, nullptr);
}

void stopHandler(int, siginfo_t* info, void* uap)
{
    const int savedErrno = errno;
    // Only our own process stops our threads.
    if (info->si_code != SI_TKILL || info->si_pid != getpid()) {
        errno = savedErrno;
        return;
    }
    const pid_t self = vxcrash_async_gettid();
    for (size_t i = 0; i < kVXCrashMaxThreads; ++i) {
        Slot& slot = g_slots[i];
        if (slot.tid != self || slot.state.load(std::memory_order_acquire) != Requested)
            continue;
        std::memcpy(&slot.context, uap, sizeof(ucontext_t));
        uint32_t expected = Requested;
        if (!slot.state.compare_exchange_strong(expected, Stopped, std::memory_order_acq_rel))
            break; // given up on already
        const long deadline = monotonicMs() + kStoppedWaitLimitMs;
        while (slot.state.load(std::memory_order_acquire) == Stopped && monotonicMs() < deadline)
            futexWait(&slot.state, Stopped, 100);
        slot.state.store(Departed, std::memory_order_release);
        break;
    }
    errno = savedErrno;
}

// Reads the thread ids of /proc/self/task into the slots; false when the
// folder cannot be read.
bool listThreads()
{
    const int fd = open("/proc/self/task", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    alignas(8) char buffer[4096];
    g_count = 0;
    bool ok = true;
    for (;;) {
        const long read = syscall(SYS_getdents64, fd, buffer, sizeof buffer);
        if (read < 0) {
            ok = false;
            break;
        }
        if (read == 0)
            break;
        for (long offset = 0; offset < read;) {
            // struct linux_dirent64: ino (8), off (8), reclen (2), type (1), name.
            uint16_t length;
            std::memcpy(&length, buffer + offset + 16, sizeof length);
            const char* name = buffer + offset + 19;
            offset += length;
            if (name[0] < '0' || name[0] > '9')
                continue;
            pid_t tid = 0;
            for (const char* c = name; *c >= '0' && *c <= '9'; ++c)
                tid = tid * 10 + (*c - '0');
            if (g_count < kVXCrashMaxThreads) {
                g_slots[g_count].tid = tid;
                g_slots[g_count].state.store(Free, std::memory_order_relaxed);
                ++g_count;
            }
        }
    }
    close(fd);
    if (!ok)
        g_count = 0;
    return ok;
}

} // namespace

pid_t vxcrash_async_gettid()
{
    return static_cast<pid_t>(syscall(SYS_gettid));
}

int vxcrash_thread_stop_signal()
{
    return SIGRTMAX - 2;
}

bool vxcrash_nasync_thread_stop_install(VXCrashReporterError* error)
{
    std::lock_guard lock(g_installMutex);
    if (g_installed.load())
        return true;
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_sigaction = stopHandler;
    action.sa_flags = SA_SIGINFO | SA_RESTART;
    // A stopped thread takes no other signal until it is released.
    sigfillset(&action.sa_mask);
    if (sigaction(vxcrash_thread_stop_signal(), &action, nullptr) != 0) {
        vxcrash_set_error(error, vxcrash_os_error(QStringLiteral("Failed to register signal handler"), errno));
        return false;
    }
    g_installed.store(true);
    return true;
}

bool vxcrash_async_threads_suspend()
{
    bool expected = false;
    if (!g_busy.compare_exchange_strong(expected, true, std::memory_order_acq_rel))
        return false;
    if (!listThreads()) {
        g_busy.store(false, std::memory_order_release);
        return false;
    }

    const pid_t self = vxcrash_async_gettid();
    const pid_t pid = getpid();
    const int signo = vxcrash_thread_stop_signal();
    const bool canStop = g_installed.load(std::memory_order_acquire);
    size_t waiting = 0;
    for (size_t i = 0; i < g_count; ++i) {
        Slot& slot = g_slots[i];
        // A thread that blocks the signal, or waits for signals, would never
        // answer and could take the request as a signal of its own: it is
        // not asked, and not waited for.
        if (slot.tid == self || !canStop || vxcrash_async_thread_could_take_as_its_own(slot.tid, signo))
            continue;
        slot.state.store(Requested, std::memory_order_release);
        if (syscall(SYS_tgkill, pid, slot.tid, signo) == 0)
            ++waiting;
        else
            slot.state.store(Abandoned, std::memory_order_release); // gone meanwhile
    }

    const long start = monotonicMs();
    const long cap = start + kVXCrashThreadStopMaxWaitMs;
    long deadline = start + kVXCrashThreadStopTimeoutMs;
    size_t before = waiting;
    while (waiting > 0) {
        waiting = 0;
        for (size_t i = 0; i < g_count; ++i) {
            if (g_slots[i].state.load(std::memory_order_acquire) == Requested)
                ++waiting;
        }
        const long now = monotonicMs();
        if (waiting < before) {
            // Someone answered: the others are slow, not deaf.
            before = waiting;
            deadline = std::min(now + kVXCrashThreadStopTimeoutMs, cap);
        }
        if (waiting == 0 || now >= deadline)
            break;
        pause(50);
    }
    // A request still unanswered may be pending on a thread that blocked the
    // signal after the check; withdrawn, it is left for no one to take. A
    // handler it already started either stopped its thread, which the resume
    // releases like any other, or finds its slot abandoned and leaves.
    if (waiting > 0)
        vxcrash_async_signal_withdraw_pending(signo);
    for (size_t i = 0; i < g_count; ++i) {
        uint32_t requested = Requested;
        g_slots[i].state.compare_exchange_strong(requested, Abandoned, std::memory_order_acq_rel);
    }
    return true;
}

size_t vxcrash_async_threads_count()
{
    return g_count;
}

vxcrash_thread_info vxcrash_async_threads_get(size_t index)
{
    if (index >= g_count)
        return {0, nullptr};
    const Slot& slot = g_slots[index];
    const bool stopped = slot.state.load(std::memory_order_acquire) == Stopped;
    return {slot.tid, stopped ? &slot.context : nullptr};
}

void vxcrash_async_threads_resume()
{
    for (size_t i = 0; i < g_count; ++i) {
        uint32_t stopped = Stopped;
        if (g_slots[i].state.compare_exchange_strong(stopped, Released, std::memory_order_acq_rel))
            futexWake(&g_slots[i].state);
    }
    const long deadline = monotonicMs() + kDepartureWaitMs;
    for (size_t i = 0; i < g_count; ++i) {
        while (g_slots[i].state.load(std::memory_order_acquire) == Released && monotonicMs() < deadline)
            sched_yield();
    }
    g_count = 0;
    g_busy.store(false, std::memory_order_release);
}
