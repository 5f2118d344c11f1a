// Enables the crash reporter, parks two threads, then crashes in the way its
// first argument names, inside vellox_crash_outer -> _middle -> _inner.
// Usage: vellox_crash_child <mode> <report base folder>
#undef NDEBUG

#include "CrashChildProtocol.h"
#include "crash-reporting/reporter/VXCrashReporter.h"

#include <atomic>
#include <cassert>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <malloc.h>
#include <pthread.h>
#include <stdexcept>
#include <string>
#include <sys/mman.h>
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
    while (g_togetherReady.load() < g_together) {
    }
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

} // extern "C"

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

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <mode> <report base folder>\n", argv[0]);
        return 2;
    }
    // "<mode>-enabled-on-worker" enables the reporter on a thread that then
    // ends, and crashes on the main thread, which was running all along.
    std::string mode = argv[1];
    if (mode == "allocating-callback") {
        g_allocatingCallback = true;
        mode = "null-write";
    }
    const std::string onWorker = "-enabled-on-worker";
    const bool enableOnWorker = endsWith(mode, onWorker);
    if (enableOnWorker) {
        mode.resize(mode.size() - onWorker.size());
        static const char* base = argv[2];
        pthread_t worker;
        pthread_create(&worker, nullptr, [](void*) -> void* {
            return reinterpret_cast<void*>(uintptr_t(enableReporter(base)));
        }, nullptr);
        void* enabled = nullptr;
        pthread_join(worker, &enabled);
        if (!enabled)
            return 4;
    } else {
        // "plugin-unloaded" loads a library before the reporter is enabled
        // and unloads it after, then loads another that may take its place,
        // and crashes in the executable.
        if (mode == "plugin-unloaded")
            g_earlyPlugin = dlopen(VELLOX_CRASH_PLUGIN, RTLD_NOW);
        if (!enableReporter(argv[2]))
            return 4;
    }

    for (int i = 0; i < crashchild::kParkedThreads; ++i) {
        pthread_t thread;
        pthread_create(&thread, nullptr, parkedThread, nullptr);
    }
    while (g_parked.load() < crashchild::kParkedThreads)
        usleep(1000);
    // Give the parked threads time to reach pause() itself.
    usleep(20000);

    // "null-write-in-signal-handler" crashes inside the handler of another
    // signal, installed by the program after the reporter.
    if (mode == "null-write-in-signal-handler") {
        struct sigaction action;
        std::memset(&action, 0, sizeof action);
        action.sa_handler = vellox_signal_handler_crash;
        sigemptyset(&action.sa_mask);
        sigaction(SIGUSR1, &action, nullptr);
        raise(SIGUSR1);
        return 0;
    }
    // "plugin-null-write" crashes in a library loaded after enabling.
    if (mode == "plugin-null-write") {
        void* plugin = dlopen(VELLOX_CRASH_PLUGIN, RTLD_NOW);
        auto* outer = plugin ? reinterpret_cast<void (*)()>(dlsym(plugin, "vellox_plugin_outer")) : nullptr;
        if (!outer)
            return 5;
        outer();
        return 0;
    }
    if (mode == "plugin-unloaded") {
        if (!g_earlyPlugin || dlclose(g_earlyPlugin) != 0 || !dlopen(VELLOX_CRASH_PLUGIN_OTHER, RTLD_NOW))
            return 5;
        mode = "null-write";
    }
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
    // "<mode>-on-thread" crashes the same way on a std::thread started after
    // the reporter was enabled.
    const std::string onThread = "-on-thread";
    if (endsWith(mode, onThread)) {
        // Started by the C++ library, as a host's threads are.
        const std::string threadMode = mode.substr(0, mode.size() - onThread.size());
        std::thread([&threadMode] { vellox_crash_outer(threadMode.c_str()); }).join();
        return 0;
    }
    vellox_crash_outer(mode.c_str());
    return 0;
}
