#include "CrashWriterOutputs.h"
#include "crash-reporting/reporter/VXCrashReport.h"
#include "crash-reporting/reporter/VXCrashReportLimits.h"
#include "crash-reporting/reporter/VXCrashReporter.h"
#include "crash-reporting/reporter/VXCrashThreadList.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <ctime>
#include <iostream>
#include <mutex>
#include <thread>
#include <vector>

namespace {

VXCrashReporter makeReporter(const QString& base, size_t maxReportBytes = VXCrashReporterConfig::kDefaultMaxReportBytes)
{
    return VXCrashReporter(QStringLiteral("app.vellox.tests"), QStringLiteral("3"), QString(),
                           VXCrashReporterConfig(VXCrashReporterConfig::SignalHandlerTypeBSD,
                                                 VXCrashReporterConfig::SymbolicationStrategySymbolTable, true, base,
                                                 maxReportBytes));
}

// Threads parked in a function of their own until released; each counts
// itself once it runs on after the release.
class ParkedThreads {
public:
    explicit ParkedThreads(int count)
    {
        for (int i = 0; i < count; ++i)
            threads_.emplace_back([this] { park(); });
        while (parked_.load() < count)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
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
    std::vector<pid_t> tids() const
    {
        std::lock_guard lock(mutex_);
        return tids_;
    }

private:
    void park()
    {
        std::unique_lock lock(mutex_);
        tids_.push_back(vxcrash_async_gettid());
        parked_.fetch_add(1);
        condition_.wait(lock, [this] { return released_; });
    }

    mutable std::mutex mutex_;
    std::condition_variable condition_;
    bool released_ = false;
    std::atomic<int> parked_{0};
    std::vector<pid_t> tids_;
    std::vector<std::thread> threads_;
};

std::shared_ptr<const VXCrashReport> decode(const std::optional<QByteArray>& bytes)
{
    if (!bytes)
        return nullptr;
    VXCrashReporterError error;
    auto report = VXCrashReport::fromData(*bytes, &error);
    EXPECT_TRUE(report) << error.localizedDescription.toStdString();
    return report;
}

// Points TMPDIR at a folder of the test's own while it lives, so the live
// report's temporary files can be counted without other tests' files.
class PrivateTemp {
public:
    PrivateTemp() : saved_(qgetenv("TMPDIR"))
    {
        qputenv("TMPDIR", QFile::encodeName(dir_.path()));
        EXPECT_EQ(QDir::tempPath(), dir_.path());
    }
    ~PrivateTemp() { qputenv("TMPDIR", saved_); }
    int liveReportFiles() const
    {
        return int(QDir(dir_.path()).entryList({QStringLiteral("live_crash_report.*")}, QDir::Files).size());
    }

private:
    QTemporaryDir dir_;
    QByteArray saved_;
};

} // namespace

TEST(VXCrashReporterConfig, Defaults)
{
    const VXCrashReporterConfig config = VXCrashReporterConfig::defaultConfiguration();
    EXPECT_EQ(config.signalHandlerType(), 0u);
    EXPECT_EQ(config.symbolicationStrategy(), 0u);
    EXPECT_TRUE(config.shouldRegisterUncaughtExceptionHandler());
    EXPECT_TRUE(config.basePath().isNull());
    EXPECT_EQ(config.maxReportBytes(), 1048576u);
    const VXCrashReporterConfig integration(1, 0, true);
    EXPECT_EQ(integration.signalHandlerType(), 1u);
    EXPECT_EQ(integration.maxReportBytes(), 1048576u);
}

TEST(VXCrashReporter, ReportFolderIsNamedAfterTheApplication)
{
    VXCrashReporter reporter(QStringLiteral("a/b/c"), QStringLiteral("1"), QString(),
                             VXCrashReporterConfig(QStringLiteral("/base")));
    EXPECT_EQ(reporter.crashReportDirectory(), "/base/app.vellox.crashreporter.data/a_b_c");
    EXPECT_EQ(reporter.queuedCrashReportDirectory(), "/base/app.vellox.crashreporter.data/a_b_c/queued_reports");
    EXPECT_EQ(reporter.crashReportPath(), "/base/app.vellox.crashreporter.data/a_b_c/live_report.vxcrash");

    const QByteArray saved = qgetenv("XDG_CACHE_HOME");
    qputenv("XDG_CACHE_HOME", "/cache-home");
    VXCrashReporter underCache(QStringLiteral("app"), QStringLiteral("1"), QString(), VXCrashReporterConfig());
    EXPECT_EQ(underCache.crashReportDirectory(), "/cache-home/app.vellox.crashreporter.data/app");
    qputenv("XDG_CACHE_HOME", saved);
}

TEST(VXCrashReporter, NoPendingReportUntilOneIsWritten)
{
    QTemporaryDir base;
    VXCrashReporter reporter = makeReporter(base.path());
    EXPECT_FALSE(reporter.hasPendingCrashReport());
    VXCrashReporterError error;
    EXPECT_FALSE(reporter.loadPendingCrashReportData(&error));
    EXPECT_EQ(error.code, ENOENT);
    error = {};
    EXPECT_FALSE(reporter.purgePendingCrashReport(&error));
    EXPECT_EQ(error.domain, "NSPOSIXErrorDomain");
    EXPECT_EQ(error.code, ENOENT);
}

std::chrono::nanoseconds threadCpuTime()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}

// Peak resident memory of this process in bytes, counted from the last reset.
long long peakResidentBytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong() * 1024;
    }
    return -1;
}

TEST(VXCrashReporter, PendingReportLargerThanAnyWrittenIsRefusedUnreadAndPurged)
{
    QTemporaryDir base;
    VXCrashReporter reporter = makeReporter(base.path());
    ASSERT_TRUE(QDir().mkpath(reporter.crashReportDirectory()));
    // Sparse: it costs no disk, but reading it whole would cost its size in memory.
    QFile hostile(reporter.crashReportPath());
    ASSERT_TRUE(hostile.open(QIODevice::WriteOnly));
    ASSERT_TRUE(hostile.write("vxcrash\x01", 8) == 8 && hostile.resize(qint64(kVXCrashReportMaxBytes) + 1));
    hostile.close();

    QFile clearRefs(QStringLiteral("/proc/self/clear_refs"));
    const bool peakReset = clearRefs.open(QIODevice::WriteOnly) && clearRefs.write("5") == 1;
    clearRefs.close();
    const long long peakBefore = peakResidentBytes();
    const auto start = std::chrono::steady_clock::now();
    VXCrashReporterError error;
    EXPECT_FALSE(reporter.loadPendingCrashReportData(&error));
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(error.code, EFBIG);
    EXPECT_LT(elapsed, std::chrono::milliseconds(50));
    if (peakReset) {
        EXPECT_LT(peakResidentBytes() - peakBefore, 20ll * 1024 * 1024);
    }

    EXPECT_TRUE(reporter.purgePendingCrashReport(&error));
    EXPECT_FALSE(reporter.hasPendingCrashReport());
}

// What reading and decoding the pending report cost this thread: its
// processor time, since a busy machine may keep it waiting far longer, which
// is no cost of the decoder's, and the peak of resident memory above the
// start (-1 when the peak cannot be reset).
struct PendingDecode {
    std::shared_ptr<const VXCrashReport> report;
    VXCrashReporterError error;
    qsizetype bytes = -1;
    std::chrono::nanoseconds cpu{};
    std::chrono::nanoseconds elapsed{};
    long long peakBytes = -1;

    void print(const char* what) const
    {
        const auto ms = [](auto duration) {
            return std::chrono::duration_cast<std::chrono::milliseconds>(duration).count();
        };
        std::cout << what << ", " << bytes << " bytes: " << (report ? "decoded" : "refused") << " after " << ms(cpu)
                  << " ms of processor time (" << ms(elapsed) << " ms on the clock), peak "
                  << (peakBytes < 0 ? -1 : peakBytes / (1024 * 1024)) << " MB above the start" << std::endl;
    }
};

PendingDecode decodePending(VXCrashReporter& reporter)
{
    PendingDecode result;
    QFile clearRefs(QStringLiteral("/proc/self/clear_refs"));
    const bool peakReset = clearRefs.open(QIODevice::WriteOnly) && clearRefs.write("5") == 1;
    clearRefs.close();
    const long long peakBefore = peakResidentBytes();
    const auto start = std::chrono::steady_clock::now();
    const auto cpuStart = threadCpuTime();
    if (std::optional<QByteArray> data = reporter.loadPendingCrashReportData(&result.error)) {
        result.bytes = data->size();
        result.report = VXCrashReport::fromData(*data, &result.error);
    }
    result.cpu = threadCpuTime() - cpuStart;
    result.elapsed = std::chrono::steady_clock::now() - start;
    if (peakReset)
        result.peakBytes = peakResidentBytes() - peakBefore;
    return result;
}

// Within the size bound, but made of fields the writer never writes: each
// unknown field would cost the unpacker an allocation of its own, gigabytes
// for the whole file. The next launch reads it and refuses it before that.
TEST(VXCrashReporter, PendingReportOfFieldsTheWriterNeverWritesIsRefusedBeforeUnpacking)
{
    QTemporaryDir base;
    VXCrashReporter reporter = makeReporter(base.path());
    ASSERT_TRUE(QDir().mkpath(reporter.crashReportDirectory()));
    PrivateTemp temp;
    VXCrashReporterError error;
    std::optional<QByteArray> bytes = reporter.generateLiveReport(&error);
    ASSERT_TRUE(bytes) << error.localizedDescription.toStdString();
    constexpr qsizetype kHostileBytes = 92 * 1000 * 1000;
    ASSERT_LT(size_t(kHostileBytes), kVXCrashReportMaxBytes);
    {
        QFile hostile(reporter.crashReportPath());
        ASSERT_TRUE(hostile.open(QIODevice::WriteOnly));
        ASSERT_EQ(hostile.write(*bytes), bytes->size());
        // Field 15, a varint of 0: two bytes each, written in chunks.
        QByteArray chunk;
        for (int i = 0; i < 512 * 1024; ++i)
            chunk.append("\x78\x00", 2);
        while (hostile.size() + chunk.size() <= kHostileBytes)
            ASSERT_EQ(hostile.write(chunk), chunk.size());
    }
    bytes.reset();

    const PendingDecode decoded = decodePending(reporter);
    decoded.print("92 MB unknown-field report");
    EXPECT_GT(decoded.bytes, 91 * 1000 * 1000);
    EXPECT_FALSE(decoded.report);
    EXPECT_EQ(decoded.error.code, VXCrashReporterErrorCrashReportInvalid);
    EXPECT_LT(decoded.cpu, std::chrono::seconds(3));
    EXPECT_LT(decoded.peakBytes, 512ll * 1024 * 1024);
}

// A report laid out as the writer lays it out, written by hand so that any
// field can come more than once: `exceptions` exceptions of the most frames
// the writer lists, `signalCopies` signals of `machExceptions` Mach
// exceptions each, and a crashed thread whose one frame holds its pc `pcs`
// times.
QByteArray handWrittenReport(int exceptions, int signalCopies, int machExceptions, int pcs)
{
    ProtoBytes frame;
    for (int i = 0; i < pcs; ++i)
        frame.varint(3, 0x1000);
    ProtoBytes exception = ProtoBytes().text(1, "E").text(2, "R");
    for (size_t i = 0; i < kVXCrashReportMaxFrames; ++i)
        exception.message(3, ProtoBytes().varint(3, 0));
    ProtoBytes signal = ProtoBytes().text(1, "SIGSEGV").text(2, "SEGV_MAPERR").varint(3, 0x10);
    for (int i = 0; i < machExceptions; ++i)
        signal.message(4, ProtoBytes().varint(1, 1).varint(2, 0));
    ProtoBytes report = ProtoBytes()
                            .message(1, ProtoBytes().text(2, "6.1.0").varint(3, 1).varint(4, 1700000000))
                            .message(2, ProtoBytes().text(1, "app.vellox.tests").text(2, "3"))
                            .message(3, ProtoBytes().varint(1, 0).message(2, frame).varint(3, 1))
                            .message(4, ProtoBytes().varint(1, 0x1000).varint(2, 0x1000).text(3, "/usr/bin/vellox"));
    for (int i = 0; i < exceptions; ++i)
        report.message(5, exception);
    for (int i = 0; i < signalCopies; ++i)
        report.message(6, signal);
    return QByteArray("vxcrash\x01", 8) + report.bytes;
}

// The writer writes every field that is not a list once. protobuf-c merges a
// message that comes again into the one before, joining their lists and
// copying all that was joined before each time: a launch would spend the
// square of the count on it, tens of minutes within the size bound. Such a
// report is refused before unpacking, at any depth.
TEST(VXCrashReporter, PendingReportRepeatingAFieldWrittenOnceIsRefusedBeforeUnpacking)
{
    struct Case {
        const char* name;
        int exceptions;
        int signalCopies;
        int machExceptions;
        int pcs;
        bool refused;
    };
    const Case cases[] = {
        {"each field once", 1, 1, 1, 1, false},
        {"the exception twice", 2, 1, 1, 1, true},
        {"the signal twice", 1, 2, 1, 1, true},
        {"the Mach exception twice in one signal", 1, 1, 2, 1, true},
        {"the pc of a thread's frame twice", 1, 1, 1, 2, true},
        {"the exception 4,000 times", 4000, 1, 1, 1, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir base;
        VXCrashReporter reporter = makeReporter(base.path());
        ASSERT_TRUE(QDir().mkpath(reporter.crashReportDirectory()));
        {
            QFile file(reporter.crashReportPath());
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            const QByteArray bytes = handWrittenReport(c.exceptions, c.signalCopies, c.machExceptions, c.pcs);
            ASSERT_EQ(file.write(bytes), bytes.size());
        }

        const PendingDecode decoded = decodePending(reporter);
        decoded.print(c.name);
        if (c.refused) {
            EXPECT_FALSE(decoded.report);
            EXPECT_EQ(decoded.error.localizedDescription.toStdString(),
                      "Crash report of " + std::to_string(decoded.bytes - 8)
                          + " bytes holds more than the crash reporter writes.");
        } else {
            EXPECT_TRUE(decoded.report) << decoded.error.localizedDescription.toStdString();
        }
        EXPECT_LT(decoded.cpu, std::chrono::seconds(3));
        EXPECT_LT(decoded.peakBytes, 512ll * 1024 * 1024);
    }
}

TEST(VXCrashReporter, OneReporterPerProcessIsEnabledOnce)
{
    EXPECT_EXIT(
        {
            QTemporaryDir base;
            VXCrashReporter first = makeReporter(base.path());
            VXCrashReporter second = makeReporter(base.path());
            if (!first.enableCrashReporter())
                _exit(1);
            if (!QFileInfo(first.queuedCrashReportDirectory()).isDir())
                _exit(2);
            if ((QFileInfo(first.crashReportDirectory()).permissions() & QFile::WriteGroup))
                _exit(3);
            VXCrashReporterError error;
            if (second.enableCrashReporter(&error) || error.code != VXCrashReporterErrorResourceBusy
                || error.localizedDescription != "A VXCrashReporter instance has already been enabled")
                _exit(4);
            if (first.enableCrashReporter())
                _exit(5);
            try {
                first.setCrashCallbacks({});
                _exit(6);
            } catch (const VXCrashReporterException&) {
            }
            _exit(0);
        },
        testing::ExitedWithCode(0), "");
}

TEST(VXCrashReporter, CrashCallbackRunsAfterTheReportIsWritten)
{
    QTemporaryDir base;
    EXPECT_EXIT(
        {
            VXCrashReporter reporter = makeReporter(base.path());
            VXCrashReporterCallbacks callbacks;
            callbacks.crashCallback = [](siginfo_t* info, ucontext_t* uap, void*) {
                const char text[] = "callback after report\n";
                if (info->si_signo == SIGSEGV && uap)
                    (void)!write(STDERR_FILENO, text, sizeof text - 1);
            };
            reporter.setCrashCallbacks(callbacks);
            if (!reporter.enableCrashReporter())
                _exit(1);
            kill(getpid(), SIGSEGV);
            pause();
        },
        testing::KilledBySignal(SIGSEGV), "callback after report");

    // Sent by kill(), the signal has no fault address.
    VXCrashReporter next = makeReporter(base.path());
    ASSERT_TRUE(next.hasPendingCrashReport());
    auto report = decode(next.loadPendingCrashReportData());
    ASSERT_TRUE(report);
    EXPECT_EQ(report->signalInfo()->name(), "SIGSEGV");
    EXPECT_EQ(report->signalInfo()->address(), 0u);
}

TEST(VXCrashReporter, LiveReportOfTheCallingThread)
{
    QTemporaryDir base;
    VXCrashReporter reporter = makeReporter(base.path());
    reporter.setCustomData(QByteArray("live\0data", 9));
    PrivateTemp temp;
    VXCrashReporterError error;
    const auto bytes = reporter.generateLiveReport(&error);
    ASSERT_TRUE(bytes) << error.localizedDescription.toStdString();
    // report_info comes first: user_requested true, then the 16-byte UUID.
    EXPECT_EQ(bytes->mid(8, 4).toHex(), "4a140801");
    auto report = decode(bytes);
    ASSERT_TRUE(report);
    EXPECT_EQ(temp.liveReportFiles(), 0);
    EXPECT_EQ(report->signalInfo()->name(), "SIGTRAP");
    EXPECT_EQ(report->signalInfo()->code(), "TRAP_TRACE");
    EXPECT_NE(report->signalInfo()->address(), 0u);
    EXPECT_EQ(report->customData(), QByteArray("live\0data", 9));
    EXPECT_FALSE(reporter.hasPendingCrashReport());

    int crashed = 0;
    for (const auto& thread : report->threads()) {
        if (thread->crashed()) {
            ++crashed;
            EXPECT_FALSE(thread->stackFrames().isEmpty());
            EXPECT_FALSE(thread->registers().isEmpty());
        }
    }
    EXPECT_EQ(crashed, 1);
}

TEST(VXCrashReporter, LiveReportPastTheSizeCapFailsAndLeavesNoFile)
{
    QTemporaryDir base;
    VXCrashReporter reporter = makeReporter(base.path(), 512);
    PrivateTemp temp;
    VXCrashReporterError error;
    EXPECT_FALSE(reporter.generateLiveReport(&error));
    EXPECT_EQ(error.localizedDescription, "Failed to write the crash report to disk");
    EXPECT_EQ(error.code, VXCrashReporterErrorUnknown);
    EXPECT_EQ(temp.liveReportFiles(), 0);
}

TEST(VXCrashReporter, LiveReportStopsEveryOtherThreadAndLetsThemGoOn)
{
    QTemporaryDir base;
    VXCrashReporter reporter = makeReporter(base.path());
    ParkedThreads parked(10);

    auto report = decode(reporter.generateLiveReport());
    ASSERT_TRUE(report);
    // The test process's own threads and the ten parked ones.
    EXPECT_GE(report->threads().size(), 11);
    for (const auto& thread : report->threads())
        EXPECT_FALSE(thread->stackFrames().isEmpty()) << "thread " << thread->threadNumber();
    // Destroying `parked` joins the threads: they went on after the report.
}

TEST(VXCrashReporter, LiveReportOfAnotherThread)
{
    QTemporaryDir base;
    VXCrashReporter reporter = makeReporter(base.path());
    ParkedThreads parked(1);

    auto report = decode(reporter.generateLiveReportWithThread(parked.tids().front()));
    ASSERT_TRUE(report);
    int crashed = 0;
    for (const auto& thread : report->threads()) {
        if (thread->crashed()) {
            ++crashed;
            EXPECT_FALSE(thread->stackFrames().isEmpty());
        }
    }
    EXPECT_EQ(crashed, 1);
}

TEST(VXCrashReporter, AThreadThatBlocksTheStopSignalIsListedWithoutFrames)
{
    QTemporaryDir base;
    VXCrashReporter reporter = makeReporter(base.path());
    std::atomic<bool> blocked{false};
    std::atomic<bool> done{false};
    std::thread deaf([&] {
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, vxcrash_thread_stop_signal());
        pthread_sigmask(SIG_BLOCK, &set, nullptr);
        blocked = true;
        while (!done)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    while (!blocked)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));

    const auto start = std::chrono::steady_clock::now();
    auto report = decode(reporter.generateLiveReport());
    const auto elapsed = std::chrono::steady_clock::now() - start;
    done = true;
    deaf.join();

    ASSERT_TRUE(report);
    int withoutFrames = 0;
    for (const auto& thread : report->threads()) {
        if (thread->stackFrames().isEmpty())
            ++withoutFrames;
    }
    EXPECT_EQ(withoutFrames, 1);
    // The deaf thread is not asked, so it holds the report up no longer than
    // the wait for an answer could (the margin is for writing the report on
    // a busy machine).
    EXPECT_LT(elapsed, std::chrono::milliseconds(kVXCrashThreadStopMaxWaitMs + 5000));
}
