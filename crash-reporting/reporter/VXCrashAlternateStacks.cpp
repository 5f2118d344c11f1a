#include "crash-reporting/reporter/VXCrashAlternateStacks.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
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

// Running threads are given this long to take their stack; one that blocks
// the signal takes it whenever it unblocks it.
constexpr auto kAnswerTimeout = std::chrono::milliseconds(2000);

enum RequestState : int { kPending = 0, kInstalled = 1, kNotNeeded = 2 };

// A stack on its way to a running thread.
struct Request {
    void* mapping;
    std::atomic<int> state{kPending};
};

std::mutex g_installMutex;
// Requests not answered when install returned: a thread that blocks the
// signal, or one slow to run, may still take its stack at any later time, so
// neither the request nor its mapping may go. Kept for the process's life.
std::vector<Request*> g_unanswered;
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
    const int savedErrno = errno;
    auto* request = static_cast<Request*>(info->si_value.sival_ptr);
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

bool signalBlockedBy(pid_t tid, int signo)
{
    char path[64];
    std::snprintf(path, sizeof path, "/proc/self/task/%d/status", int(tid));
    FILE* status = std::fopen(path, "re");
    if (!status)
        return false;
    char line[256];
    unsigned long long blocked = 0;
    while (std::fgets(line, sizeof line, status)) {
        if (std::sscanf(line, "SigBlk: %llx", &blocked) == 1)
            break;
    }
    std::fclose(status);
    return blocked & (1ULL << (signo - 1));
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

// Sends each running thread a stack and waits for the answers of those that
// can answer now. A thread that blocks the signal gets its request queued
// all the same, and takes its stack when it unblocks the signal.
void reachRunningThreads()
{
    const int signo = vxcrash_alternate_stack_signal();
    std::vector<Request*> sent;
    std::vector<Request*> queued;
    for (pid_t tid : otherThreads()) {
        const bool blocked = signalBlockedBy(tid, signo);
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
        (blocked ? queued : sent).push_back(request);
    }
    const auto deadline = std::chrono::steady_clock::now() + kAnswerTimeout;
    for (Request* request : sent) {
        while (request->state.load(std::memory_order_acquire) == kPending
               && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    queued.insert(queued.end(), sent.begin(), sent.end());
    for (Request* request : queued) {
        const int state = request->state.load(std::memory_order_acquire);
        if (state == kPending) {
            g_unanswered.push_back(request);
            continue;
        }
        if (state == kNotNeeded)
            unmapStack(request->mapping);
        delete request;
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
