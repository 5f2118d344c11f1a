// Enables the crash reporter, parks two threads, then crashes in the way its
// first argument names, inside vellox_crash_outer -> _middle -> _inner.
// Usage: vellox_crash_child <mode>[@<thread>] <report base folder>
// where <thread> picks the thread that crashes (the main one by default):
//   late            a std::thread started after the reporter was enabled
//   early-<wait>    a thread started before, waiting while the reporter is
//                   enabled: busy (a loop), sleep (usleep), condition (a
//                   condition variable), read (a pipe), blocked (a condition
//                   variable with every signal blocked), sigwait (every
//                   signal blocked, taken with sigwait until SIGUSR1 comes);
//                   the last two print each signal they took and those still
//                   pending once released, then unblock every signal
//   beside-<wait>   a thread as early-<wait>, waiting while the main thread
//                   runs the mode; released afterwards, it ends without a crash
// Modes that do not crash: alternate-stack (prints the thread's alternate
// stack), live-report (saves a live report as <base>/live.vxcrash).
// Before the main thread runs the mode itself, it prints how many threads
// the process has and the monotonic clock ("threads=<n> clock-ns=<ns>").
#undef NDEBUG

#include "CrashChildProtocol.h"
#include "crash-reporting/reporter/VXCrashProcessInfo.h"
#include "crash-reporting/reporter/VXCrashReporter.h"

#include <QFile>

#include <atomic>
#include <cassert>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <malloc.h>
#include <memory>
#include <pthread.h>
#include <sched.h>
#include <stdexcept>
#include <string>
#include <sys/mman.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

std::atomic<int> g_parked{0};
volatile int g_sink;
// Threads that fault together, and how many of them have reached the fault.
int g_together = 0;
void* g_earlyPlugin = nullptr;
// "allocating-callback": a crash callback that allocates, which the preloaded
// spy must catch.
bool g_allocatingCallback = false;
volatile void* g_allocated;
std::atomic<int> g_togetherReady{0};
VXCrashReporter* g_reporter = nullptr;
const char* g_base = nullptr;

void announce(const void* address)
{
    std::printf("address=%p\n", address);
    std::fflush(stdout);
}

} // namespace

extern "C" {

__attribute__((noinline)) void vellox_parked_worker()
{
    g_parked.fetch_add(1);
    for (;;)
        pause();
}

static void* parkedThread(void*)
{
    vellox_parked_worker();
    return nullptr;
}

// Every caller waits for the others, then all write through null at once.
__attribute__((noinline)) void vellox_fault_together()
{
    g_togetherReady.fetch_add(1);
    // Yielding lets the threads not started yet, and on a machine with few
    // cores the ones not running, reach this point soon; they still fault
    // within a scheduling slice of each other.
    while (g_togetherReady.load() < g_together)
        sched_yield();
    *reinterpret_cast<volatile int*>(crashchild::kNullWriteOffset) = 1;
    asm volatile("" ::: "memory");
}

static void* faultTogetherThread(void*)
{
    vellox_fault_together();
    return nullptr;
}

__attribute__((noinline)) int vellox_recurse(int depth)
{
    volatile char frame[256];
    frame[0] = char(depth);
    // Always true; the compiler cannot tell, so it keeps the recursion unbounded.
    const int result = (g_sink >= 0 || depth >= 0 ? vellox_recurse(depth + 1) : 0) + frame[0];
    asm volatile("" ::: "memory");
    return result;
}

__attribute__((noinline)) void vellox_crash_inner(const char* mode)
{
    const long page = sysconf(_SC_PAGESIZE);
    if (std::strcmp(mode, "null-write") == 0) {
        int* volatile base = nullptr;
        announce(reinterpret_cast<char*>(base) + crashchild::kNullWriteOffset);
        *reinterpret_cast<volatile int*>(reinterpret_cast<char*>(base) + crashchild::kNullWriteOffset) = 1;
    } else if (std::strcmp(mode, "read-only-write") == 0) {
        void* pageAddress = mmap(nullptr, size_t(page), PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        announce(pageAddress);
        *static_cast<volatile int*>(pageAddress) = 1;
    } else if (std::strcmp(mode, "stack-overflow") == 0) {
        g_sink = vellox_recurse(0);
    } else if (std::strcmp(mode, "divide-by-zero") == 0) {
        // Neither operand is a constant: 1 / x may compile to a comparison.
        volatile int zero = 0;
        volatile int numerator = 7;
        g_sink = numerator / zero;
    } else if (std::strcmp(mode, "trap") == 0) {
        __builtin_trap();
    } else if (std::strcmp(mode, "truncated-mapping") == 0) {
        char path[] = "/tmp/vellox-crash-mapping.XXXXXX";
        const int fd = mkstemp(path);
        unlink(path);
        if (fd < 0 || ftruncate(fd, page) != 0)
            std::exit(3);
        auto* mapped = static_cast<volatile char*>(mmap(nullptr, size_t(page), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0));
        if (ftruncate(fd, 0) != 0)
            std::exit(3);
        announce(const_cast<char*>(mapped));
        g_sink = mapped[0];
    } else if (std::strcmp(mode, "abort") == 0) {
        std::abort();
    } else if (std::strcmp(mode, "abort-in-malloc") == 0) {
        // A chunk whose neighbour's size is overwritten: free finds it while
        // it holds the arena's lock, and aborts without letting go.
        constexpr size_t kLarge = 4096; // past the per-thread cache, so free takes the arena lock
        auto* chunk = static_cast<char*>(std::malloc(kLarge));
        void* guard = std::malloc(kLarge);
        // The neighbour's size word follows the usable bytes: size 0, with
        // the bit that says this chunk is in use still set.
        *reinterpret_cast<size_t*>(chunk + malloc_usable_size(chunk)) = 1;
        std::free(chunk);
        std::free(guard);
    } else if (std::strcmp(mode, "assert") == 0) {
        assert(false);
    } else if (std::strcmp(mode, "uncaught-exception") == 0) {
        throw std::runtime_error("boom");
    }
    asm volatile("" ::: "memory");
}

__attribute__((noinline)) void vellox_crash_middle(const char* mode)
{
    vellox_crash_inner(mode);
    asm volatile("" ::: "memory");
}

__attribute__((noinline)) void vellox_crash_outer(const char* mode)
{
    vellox_crash_middle(mode);
    asm volatile("" ::: "memory");
}

__attribute__((noinline)) void vellox_signal_handler_crash(int)
{
    vellox_crash_outer("null-write");
    asm volatile("" ::: "memory");
}

// Crashes the calling thread in the way `mode` names.
__attribute__((noinline)) void vellox_crash_run(const char* mode)
{
    const std::string name = mode;
    // Crashes inside the handler of another signal, installed by the program
    // after the reporter.
    if (name == "null-write-in-signal-handler") {
        struct sigaction action;
        std::memset(&action, 0, sizeof action);
        action.sa_handler = vellox_signal_handler_crash;
        sigemptyset(&action.sa_mask);
        sigaction(SIGUSR1, &action, nullptr);
        raise(SIGUSR1);
        std::exit(0);
    }
    // Crashes in a library loaded after enabling.
    if (name == "plugin-null-write") {
        void* plugin = dlopen(VELLOX_CRASH_PLUGIN, RTLD_NOW);
        auto* outer = plugin ? reinterpret_cast<void (*)()>(dlsym(plugin, "vellox_plugin_outer")) : nullptr;
        if (!outer)
            std::exit(5);
        outer();
        std::exit(0);
    }
    // The library loaded before enabling is unloaded, another that may take
    // its place is loaded, and the crash is in the executable.
    if (name == "plugin-unloaded") {
        if (!g_earlyPlugin || dlclose(g_earlyPlugin) != 0 || !dlopen(VELLOX_CRASH_PLUGIN_OTHER, RTLD_NOW))
            std::exit(5);
        vellox_crash_outer("null-write");
        std::exit(0);
    }
    // No crash: the thread tells the alternate stack it has.
    if (name == "alternate-stack") {
        stack_t current;
        std::memset(&current, 0, sizeof current);
        sigaltstack(nullptr, &current);
        std::printf("alternate-stack=%zu disabled=%d\n", current.ss_size, (current.ss_flags & SS_DISABLE) ? 1 : 0);
        std::fflush(stdout);
        return;
    }
    if (name == "live-report") {
        const auto bytes = g_reporter->generateLiveReport();
        QFile file(QString::fromLocal8Bit(g_base) + "/live.vxcrash");
        if (!bytes || !file.open(QIODevice::WriteOnly) || file.write(*bytes) != bytes->size())
            std::exit(7);
        return;
    }
    vellox_crash_outer(mode);
    asm volatile("" ::: "memory");
}

} // extern "C"

namespace {

bool endsWith(const std::string& text, const std::string& suffix)
{
    return text.size() > suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

bool enableReporter(const char* base)
{
    // Mach exceptions, as the error-tracking integration asks: this system
    // falls back to signals.
    static VXCrashReporter reporter(QString::fromLatin1(crashchild::kApplicationIdentifier),
                                    QString::fromLatin1(crashchild::kApplicationVersion),
                                    QString::fromLatin1(crashchild::kMarketingVersion),
                                    VXCrashReporterConfig(VXCrashReporterConfig::SignalHandlerTypeMach,
                                                          VXCrashReporterConfig::SymbolicationStrategySymbolTable,
                                                          true, QString::fromLocal8Bit(base)));
    g_reporter = &reporter;
    if (g_allocatingCallback) {
        VXCrashReporterCallbacks callbacks;
        callbacks.crashCallback = [](siginfo_t*, ucontext_t*, void*) { g_allocated = std::malloc(64); };
        reporter.setCrashCallbacks(callbacks);
    }
    reporter.setCustomData(QByteArray(reinterpret_cast<const char*>(crashchild::kCustomData),
                                      sizeof crashchild::kCustomData));
    VXCrashReporterError error;
    if (!reporter.enableCrashReporter(&error)) {
        std::fprintf(stderr, "enable failed: %s\n", qPrintable(error.localizedDescription));
        return false;
    }
    return true;
}

// A thread started before the reporter is enabled, still running while it
// is, that runs a mode once released (none: it just ends).
class EarlyThread {
public:
    enum class Wait { Busy, Sleep, Condition, Read, Blocked, Sigwait };

    static bool parseWait(const std::string& name, Wait* wait)
    {
        static const std::pair<const char*, Wait> names[] = {{"busy", Wait::Busy},
                                                              {"sleep", Wait::Sleep},
                                                              {"condition", Wait::Condition},
                                                              {"read", Wait::Read},
                                                              {"blocked", Wait::Blocked},
                                                              {"sigwait", Wait::Sigwait}};
        for (const auto& [text, value] : names) {
            if (name == text) {
                *wait = value;
                return true;
            }
        }
        return false;
    }

    EarlyThread(Wait wait, std::string mode) : wait_(wait), mode_(std::move(mode))
    {
        if (pipe(pipe_) != 0)
            std::exit(6);
        pthread_create(&thread_, nullptr, &EarlyThread::run, this);
        while (!ready_.load())
            usleep(1000);
    }

    // Lets the thread crash, and waits for it.
    void release()
    {
        if (wait_ == Wait::Sigwait)
            pthread_kill(thread_, SIGUSR1);
        pthread_mutex_lock(&mutex_);
        go_.store(true);
        pthread_cond_broadcast(&condition_);
        pthread_mutex_unlock(&mutex_);
        (void)!write(pipe_[1], "g", 1);
        pthread_join(thread_, nullptr);
    }

private:
    static void* run(void* self)
    {
        static_cast<EarlyThread*>(self)->waitThenRun();
        return nullptr;
    }

    // The signals pending for this thread or the process, as a line.
    static void printPending()
    {
        sigset_t pending;
        sigpending(&pending);
        std::string line = "pending=";
        for (int signo = 1; signo < NSIG; ++signo) {
            if (sigismember(&pending, signo) == 1)
                line += std::to_string(signo) + " ";
        }
        std::printf("%s\n", line.c_str());
        std::fflush(stdout);
    }

    void waitThenRun()
    {
        sigset_t mask;
        const bool blocksAll = wait_ == Wait::Blocked || wait_ == Wait::Sigwait;
        if (blocksAll) {
            sigfillset(&mask);
            pthread_sigmask(SIG_SETMASK, &mask, nullptr);
        }
        ready_.store(true);
        switch (wait_) {
        case Wait::Busy:
            while (!go_.load()) {
            }
            break;
        case Wait::Sleep:
            while (!go_.load())
                usleep(1000);
            break;
        case Wait::Condition:
        case Wait::Blocked:
            pthread_mutex_lock(&mutex_);
            while (!go_.load())
                pthread_cond_wait(&condition_, &mutex_);
            pthread_mutex_unlock(&mutex_);
            break;
        case Wait::Read: {
            char byte;
            while (read(pipe_[0], &byte, 1) < 0 && errno == EINTR) {
            }
            break;
        }
        case Wait::Sigwait:
            // As a daemon's signal thread does: every signal it is sent is its own.
            for (int signo = 0; signo != SIGUSR1;) {
                if (sigwait(&mask, &signo) != 0)
                    std::exit(6);
                std::printf("took=%d\n", signo);
                std::fflush(stdout);
            }
            break;
        }
        if (blocksAll) {
            printPending();
            sigemptyset(&mask);
            pthread_sigmask(SIG_SETMASK, &mask, nullptr);
        }
        if (!mode_.empty())
            vellox_crash_run(mode_.c_str());
    }

    const Wait wait_;
    const std::string mode_;
    pthread_t thread_{};
    pthread_mutex_t mutex_ = PTHREAD_MUTEX_INITIALIZER;
    pthread_cond_t condition_ = PTHREAD_COND_INITIALIZER;
    int pipe_[2] = {-1, -1};
    std::atomic<bool> ready_{false};
    std::atomic<bool> go_{false};
};

int threadCount()
{
    int count = 0;
    if (DIR* tasks = opendir("/proc/self/task")) {
        while (const dirent* entry = readdir(tasks))
            count += entry->d_name[0] != '.';
        closedir(tasks);
    }
    return count;
}

long long startSeconds(pid_t pid)
{
    const auto info = VXCrashProcessInfo::withProcessID(pid);
    return info ? static_cast<long long>(info->startTime.seconds) : -1;
}

// A child forked after enabling crashes first; its report is set aside as
// forked_child_report.vxcrash, then this process crashes too.
[[noreturn]] void forkedChildThenParent()
{
    int gate[2];
    if (pipe(gate) != 0)
        std::exit(6);
    const pid_t child = fork();
    if (child == 0) {
        char byte;
        while (read(gate[0], &byte, 1) < 0 && errno == EINTR) {
        }
        vellox_crash_outer("null-write");
        _exit(0);
    }
    std::printf("parent-pid=%d parent-start=%lld\nchild-pid=%d child-start=%lld\n", int(getpid()),
                startSeconds(getpid()), int(child), startSeconds(child));
    std::fflush(stdout);
    (void)!write(gate[1], "g", 1);
    int status = 0;
    waitpid(child, &status, 0);
    std::printf("child-signal=%d\n", WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    std::fflush(stdout);
    const QByteArray report = QFile::encodeName(g_reporter->crashReportPath());
    const QByteArray aside = QFile::encodeName(g_reporter->crashReportDirectory() + "/forked_child_report.vxcrash");
    if (rename(report.constData(), aside.constData()) != 0)
        std::printf("child left no report\n");
    std::fflush(stdout);
    vellox_crash_outer("null-write");
    std::exit(0);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <mode>[@<thread>] <report base folder>\n", argv[0]);
        return 2;
    }
    std::string mode = argv[1];
    std::string thread;
    if (const auto at = mode.find('@'); at != std::string::npos) {
        thread = mode.substr(at + 1);
        mode.resize(at);
    }
    if (mode == "allocating-callback") {
        g_allocatingCallback = true;
        mode = "null-write";
    }
    // "<mode>-enabled-on-worker" enables the reporter on a thread that then
    // ends; without another thread named, it crashes on the main thread,
    // which was running all along.
    const std::string onWorker = "-enabled-on-worker";
    const bool enableOnWorker = endsWith(mode, onWorker);
    if (enableOnWorker)
        mode.resize(mode.size() - onWorker.size());
    // "plugin-unloaded" loads a library before the reporter is enabled.
    if (mode == "plugin-unloaded")
        g_earlyPlugin = dlopen(VELLOX_CRASH_PLUGIN, RTLD_NOW);

    std::unique_ptr<EarlyThread> early;
    const std::string earlyPrefix = "early-";
    const std::string besidePrefix = "beside-";
    const bool beside = thread.compare(0, besidePrefix.size(), besidePrefix) == 0;
    if (beside || thread.compare(0, earlyPrefix.size(), earlyPrefix) == 0) {
        EarlyThread::Wait wait;
        if (!EarlyThread::parseWait(thread.substr(beside ? besidePrefix.size() : earlyPrefix.size()), &wait))
            return 2;
        early = std::make_unique<EarlyThread>(wait, beside ? std::string() : mode);
    } else if (!thread.empty() && thread != "late") {
        return 2;
    }
    g_base = argv[2];

    if (enableOnWorker) {
        static const char* base = argv[2];
        pthread_t worker;
        pthread_create(&worker, nullptr, [](void*) -> void* {
            return reinterpret_cast<void*>(uintptr_t(enableReporter(base)));
        }, nullptr);
        void* enabled = nullptr;
        pthread_join(worker, &enabled);
        if (!enabled)
            return 4;
    } else if (!enableReporter(argv[2])) {
        return 4;
    }

    for (int i = 0; i < crashchild::kParkedThreads; ++i) {
        pthread_t parked;
        pthread_create(&parked, nullptr, parkedThread, nullptr);
    }
    while (g_parked.load() < crashchild::kParkedThreads)
        usleep(1000);
    // Give the parked threads time to reach pause() itself.
    usleep(20000);

    if (mode == "forked-child")
        forkedChildThenParent();
    // "fault-together-<n>": n threads make a null write at the same moment.
    const std::string together = "fault-together-";
    if (mode.compare(0, together.size(), together) == 0) {
        g_together = std::atoi(mode.c_str() + together.size());
        pthread_t threads[64];
        for (int i = 0; i < g_together && i < 64; ++i)
            pthread_create(&threads[i], nullptr, faultTogetherThread, nullptr);
        pthread_join(threads[0], nullptr);
        return 0;
    }
    if (early && !beside) {
        early->release();
        return 0;
    }
    if (thread == "late") {
        // Started by the C++ library, as a host's threads are.
        std::thread([&mode] { vellox_crash_run(mode.c_str()); }).join();
        return 0;
    }
    std::printf("threads=%d clock-ns=%lld\n", threadCount(),
                static_cast<long long>(std::chrono::steady_clock::now().time_since_epoch().count()));
    std::fflush(stdout);
    vellox_crash_run(mode.c_str());
    if (early)
        early->release();
    return 0;
}

