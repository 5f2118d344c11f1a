#include "crash-reporting/reporter/VXCrashAlternateStacks.h"

#include "crash-reporting/reporter/VXCrashThreadSignals.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <dlfcn.h>
#include <mutex>
#include <new>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <ucontext.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// Running threads are given this long to take their stack.
constexpr auto kAnswerTimeout = std::chrono::milliseconds(2000);

enum RequestState : int { kPending, kTaking, kInstalled, kNotNeeded, kWithdrawn };

// A stack on its way to a running thread. Whoever moves it out of kPending
// first owns it: the thread's handler, or install withdrawing it.
struct Request {
    void* mapping;
    std::atomic<int> state{kPending};
};

std::mutex g_installMutex;
// Requests a handler may still look at: withdrawn ones, since a handler that
// took its signal just before the withdrawal still reads the state, and any
// whose handler had not finished when install returned. Kept for the
// process's life; a withdrawn one without its stack.
std::vector<Request*> g_kept;
bool g_installed = false;
// Set once running threads were reached: from then on every new thread
// starts by installing a stack of its own.
std::atomic<bool> g_everyThread{false};
pthread_key_t g_stackKey;

size_t pageSize()
{
    static const size_t page = size_t(sysconf(_SC_PAGESIZE));
    return page;
}

// The stack with an inaccessible page below it, so an overflow of the
// handler itself faults instead of writing over other memory.
void* mapStack()
{
    void* mapping = mmap(nullptr, kVXCrashAlternateStackSize + pageSize(), PROT_READ | PROT_WRITE,
                         MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
    if (mapping == MAP_FAILED)
        return nullptr;
    mprotect(mapping, pageSize(), PROT_NONE);
    return mapping;
}

void unmapStack(void* mapping)
{
    munmap(mapping, kVXCrashAlternateStackSize + pageSize());
}

// Async-signal-safe. `installed`, when given, receives the stack as installed.
bool useStack(void* mapping, stack_t* installed = nullptr)
{
    stack_t stack;
    std::memset(&stack, 0, sizeof stack);
    stack.ss_sp = static_cast<char*>(mapping) + pageSize();
    stack.ss_size = kVXCrashAlternateStackSize;
    if (sigaltstack(&stack, nullptr) != 0)
        return false;
    if (installed)
        *installed = stack;
    return true;
}

void installRequestedStack(int, siginfo_t* info, void* context)
{
    if (info->si_code != SI_QUEUE || info->si_pid != getpid() || !info->si_value.sival_ptr)
        return;
    auto* request = static_cast<Request*>(info->si_value.sival_ptr);
    // Withdrawn while the signal was on its way: the stack is gone.
    int pending = kPending;
    if (!request->state.compare_exchange_strong(pending, kTaking, std::memory_order_acq_rel))
        return;
    const int savedErrno = errno;
    stack_t stack;
    const bool installed = !vxcrash_has_alternate_stack() && useStack(request->mapping, &stack);
    // Returning from a handler restores the alternate stack the thread had
    // when the signal came, saved in the handler's context: the new one
    // replaces it there too, or it would be gone once this returns.
    if (installed)
        static_cast<ucontext_t*>(context)->uc_stack = stack;
    request->state.store(installed ? kInstalled : kNotNeeded, std::memory_order_release);
    errno = savedErrno;
}

// The thread's stack goes with it. Runs at thread exit, on the thread.
void releaseStack(void* mapping)
{
    stack_t off;
    std::memset(&off, 0, sizeof off);
    off.ss_flags = SS_DISABLE;
    sigaltstack(&off, nullptr);
    unmapStack(mapping);
}

struct Start {
    void* (*routine)(void*);
    void* argument;
};

void* startWithAlternateStack(void* argument)
{
    const Start start = *static_cast<Start*>(argument);
    delete static_cast<Start*>(argument);
    if (!vxcrash_has_alternate_stack()) {
        void* mapping = mapStack();
        if (mapping && (!useStack(mapping) || pthread_setspecific(g_stackKey, mapping) != 0))
            releaseStack(mapping);
    }
    return start.routine(start.argument);
}

std::vector<pid_t> otherThreads()
{
    std::vector<pid_t> tids;
    DIR* tasks = opendir("/proc/self/task");
    if (!tasks)
        return tids;
    const pid_t self = pid_t(syscall(SYS_gettid));
    while (const dirent* entry = readdir(tasks)) {
        const pid_t tid = pid_t(std::atoi(entry->d_name));
        if (tid > 0 && tid != self)
            tids.push_back(tid);
    }
    closedir(tasks);
    return tids;
}

// Waits until every request is answered or withdrawn, or the deadline.
void waitForAnswers(const std::vector<Request*>& requests, std::chrono::steady_clock::time_point deadline)
{
    for (Request* request : requests) {
        while (request->state.load(std::memory_order_acquire) <= kTaking
               && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
}

// Sends each running thread that would run the handler a stack, and waits for
// the answers. A thread that blocks the signal, or waits for signals, is sent
// none: the program could take it as its own.
//
// The check and the sending are two steps: a thread that blocks the signal
// between them keeps the request pending, so the requests still unanswered
// at the deadline are withdrawn. What remains is a thread
// that blocks the signal in those microseconds and takes it before the
// deadline; and a thread too slow to answer in time goes without a stack.
void reachRunningThreads()
{
    const int signo = vxcrash_alternate_stack_signal();
    std::vector<Request*> sent;
    for (pid_t tid : otherThreads()) {
        if (vxcrash_async_thread_could_take_as_its_own(tid, signo))
            continue;
        void* mapping = mapStack();
        if (!mapping)
            break;
        auto* request = new Request{mapping};
        siginfo_t info;
        std::memset(&info, 0, sizeof info);
        info.si_signo = signo;
        info.si_code = SI_QUEUE;
        info.si_pid = getpid();
        info.si_uid = getuid();
        info.si_value.sival_ptr = request;
        if (syscall(SYS_rt_tgsigqueueinfo, getpid(), tid, signo, &info) != 0) {
            // The thread has ended meanwhile.
            unmapStack(mapping);
            delete request;
            continue;
        }
        sent.push_back(request);
    }
    waitForAnswers(sent, std::chrono::steady_clock::now() + kAnswerTimeout);

    const bool unanswered = std::any_of(sent.begin(), sent.end(), [](Request* request) {
        return request->state.load(std::memory_order_acquire) == kPending;
    });
    if (unanswered)
        vxcrash_async_signal_withdraw_pending(signo);
    for (Request* request : sent) {
        int pending = kPending;
        if (request->state.compare_exchange_strong(pending, kWithdrawn, std::memory_order_acq_rel))
            unmapStack(request->mapping);
    }
    // A handler that took its request before the withdrawal ends without
    // waiting on anything.
    waitForAnswers(sent, std::chrono::steady_clock::now() + kAnswerTimeout);
    for (Request* request : sent) {
        switch (request->state.load(std::memory_order_acquire)) {
        case kNotNeeded:
            unmapStack(request->mapping);
            [[fallthrough]];
        case kInstalled:
            delete request;
            break;
        default:
            g_kept.push_back(request);
        }
    }
}

} // namespace

int vxcrash_alternate_stack_signal()
{
    return SIGRTMAX - 3;
}

bool vxcrash_has_alternate_stack()
{
    stack_t current;
    return sigaltstack(nullptr, &current) == 0 && !(current.ss_flags & SS_DISABLE)
           && current.ss_size >= kVXCrashAlternateStackSize;
}

bool vxcrash_nasync_alternate_stacks_install(VXCrashReporterError* error)
{
    std::lock_guard lock(g_installMutex);
    if (!vxcrash_has_alternate_stack()) {
        // The calling thread's stack lives as long as the process: the
        // thread did not start through the wrapper, so nothing frees it.
        void* mapping = mapStack();
        if (!mapping || !useStack(mapping)) {
            const int errnum = mapping ? errno : ENOMEM;
            if (mapping)
                unmapStack(mapping);
            vxcrash_set_error(error, vxcrash_os_error(QStringLiteral("Could not initialize alternative signal stack"),
                                                      errnum));
            return false;
        }
    }
    if (g_installed)
        return true;
    if (pthread_key_create(&g_stackKey, releaseStack) != 0) {
        vxcrash_set_error(error, vxcrash_os_error(QStringLiteral("Could not initialize alternative signal stack"),
                                                  EAGAIN));
        return false;
    }
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_sigaction = installRequestedStack;
    action.sa_flags = SA_SIGINFO | SA_RESTART;
    sigemptyset(&action.sa_mask);
    if (sigaction(vxcrash_alternate_stack_signal(), &action, nullptr) != 0) {
        vxcrash_set_error(error, vxcrash_os_error(QStringLiteral("Could not initialize alternative signal stack"),
                                                  errno));
        return false;
    }
    g_installed = true;
    // New threads first: a thread started while the running ones are being
    // reached is then covered one way or the other.
    g_everyThread.store(true, std::memory_order_release);
    reachRunningThreads();
    return true;
}

// Every thread of the process starts here once the stacks are installed,
// whoever starts it (Qt, the C++ library, plugins): the executable's
// definition comes first in symbol lookup.
extern "C" int pthread_create(pthread_t* thread, const pthread_attr_t* attributes, void* (*routine)(void*),
                              void* argument) noexcept
{
    using Create = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
    static const Create next = reinterpret_cast<Create>(dlsym(RTLD_NEXT, "pthread_create"));
    if (!next)
        return EAGAIN;
    if (!g_everyThread.load(std::memory_order_acquire))
        return next(thread, attributes, routine, argument);
    auto* start = new (std::nothrow) Start{routine, argument};
    if (!start)
        return next(thread, attributes, routine, argument);
    const int result = next(thread, attributes, startWithAlternateStack, start);
    if (result != 0)
        delete start;
    return result;
}
