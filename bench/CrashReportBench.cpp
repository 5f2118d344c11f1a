// Time to write one crash report of a 10-thread process: every other thread
// stopped and walked, the images listed, the report streamed to a file.
#include "crash-reporting/reporter/VXCrashFileOutput.h"
#include "crash-reporting/reporter/VXCrashLogWriter.h"
#include "crash-reporting/reporter/VXCrashProcessTarget.h"
#include "crash-reporting/reporter/VXCrashSharedImages.h"
#include "crash-reporting/reporter/VXCrashThreadList.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <csignal>
#include <condition_variable>
#include <fcntl.h>
#include <mutex>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kThreads = 10;

class ParkedThreads {
public:
    explicit ParkedThreads(int count)
    {
        for (int i = 0; i < count; ++i) {
            threads_.emplace_back([this] {
                std::unique_lock lock(mutex_);
                ++parked_;
                condition_.wait(lock, [this] { return released_; });
            });
        }
        while (parked_.load() < count)
            std::this_thread::yield();
    }
    ~ParkedThreads()
    {
        {
            std::lock_guard lock(mutex_);
            released_ = true;
        }
        condition_.notify_all();
        for (auto& thread : threads_)
            thread.join();
    }

private:
    std::mutex mutex_;
    std::condition_variable condition_;
    bool released_ = false;
    std::atomic<int> parked_{0};
    std::vector<std::thread> threads_;
};

void writeReport(benchmark::State& state)
{
    vxcrash_nasync_thread_stop_install(nullptr);
    vxcrash_nasync_shared_image_list_refresh();
    vxcrash_log_writer writer;
    vxcrash_log_writer_init(&writer, "app.vellox.bench", "1", "1.0", uint32_t(state.range(0)), false);
    // The calling thread is one of the ten.
    ParkedThreads parked(kThreads - 1);
    const vxcrash_log_bsd_signal_info signal{SIGSEGV, SEGV_MAPERR, 0x10};
    const vxcrash_log_signal_info info{&signal, nullptr};
    const int fd = open("/dev/null", O_WRONLY | O_CLOEXEC);

    for (auto _ : state) {
        VXCrashFileOutput output(fd, 0);
        // As the crash handler does: the image list follows the loader first.
        vxcrash_async_image_list_sync_with_loader(vxcrash_shared_image_list());
        VXCrashProcessTarget target;
        ucontext_t captured;
        getcontext(&captured);
        const int status = vxcrash_log_writer_write(&writer, target, vxcrash_async_gettid(), &output, &info,
                                                    &captured);
        output.flush();
        if (status != VXCRASH_WRITER_OK)
            state.SkipWithError("write failed");
    }
    close(fd);
    vxcrash_log_writer_free(&writer);
}

} // namespace

// Argument: the symbolication strategy (0 none, as the application configures;
// 1 symbol tables).
BENCHMARK(writeReport)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
