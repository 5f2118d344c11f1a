#include "CrashChildProtocol.h"
#include "CrashChildRun.h"
#include "crash-reporting/reporter/VXCrashAlternateStacks.h"
#include "crash-reporting/reporter/VXCrashReport.h"
#include "crash-reporting/reporter/VXCrashReporter.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <tuple>
#include <unistd.h>
#include <vector>

namespace {

enum class Address {
    Announced,       // printed by the child before the fault
    FaultingPc,      // the instruction that faulted
    None,            // 0: the signal carries no address
    Any,             // somewhere on the stack
};

// What the report says of the library the child loads and unloads.
enum class Plugin {
    Ignored,
    Crashed,  // listed with its build-id, and the crash is in it
    Unloaded, // unloaded before the crash: not listed, and its successor is
};

struct Case {
    const char* mode;
    int signo;
    const char* signal;
    const char* code; // null: any
    Address address;
    // Frames of the crashed thread that must appear in this order, one after
    // the other.
    std::vector<std::string> frames;
    const char* crashInfoPart = nullptr;
    const char* exceptionName = nullptr;
    Plugin plugin = Plugin::Ignored;
};

void PrintTo(const Case& c, std::ostream* os)
{
    *os << c.mode;
}

// The thread that crashes, as the child's "@<thread>" suffix names it: the
// main thread, one started before the reporter was enabled and still running
// while it was, and one started after.
struct Placement {
    const char* suffix;
    const char* name;
};
const Placement kPlacements[] = {{"", "main"}, {"@early-condition", "early_thread"}, {"@late", "late_thread"}};

void PrintTo(const Placement& p, std::ostream* os)
{
    *os << p.name;
}

using MatrixParam = std::tuple<Case, Placement>;

const std::vector<std::string> kCrashChain = {"vellox_crash_inner", "vellox_crash_middle", "vellox_crash_outer"};

std::string caseName(const testing::TestParamInfo<MatrixParam>& info)
{
    std::string name = std::string(std::get<0>(info.param).mode) + "_on_" + std::get<1>(info.param).name;
    for (char& c : name) {
        if (c == '-')
            c = '_';
    }
    return name;
}

VXCrashReporter nextLaunch(const QString& base)
{
    return VXCrashReporter(QString::fromLatin1(crashchild::kApplicationIdentifier),
                           QString::fromLatin1(crashchild::kApplicationVersion),
                           QString::fromLatin1(crashchild::kMarketingVersion), VXCrashReporterConfig(base));
}

std::shared_ptr<const VXCrashReport> decodeFile(const QString& path, std::string* why)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *why = "no report at " + path.toStdString();
        return nullptr;
    }
    VXCrashReporterError error;
    auto report = VXCrashReport::fromData(file.readAll(), &error);
    if (!report)
        *why = error.localizedDescription.toStdString();
    return report;
}

std::vector<std::string> frameNames(const VXCrashReportThreadInfo& thread)
{
    std::vector<std::string> names;
    for (const auto& frame : thread.stackFrames())
        names.push_back(frame->symbolInfo() ? frame->symbolInfo()->symbolName().toStdString() : std::string("?"));
    return names;
}

// The compiler may name a copy of a function with a suffix ("f.localalias",
// "f.cold"); it is still that function.
bool sameFunction(const std::string& name, const std::string& wanted)
{
    return name == wanted || (name.size() > wanted.size() && name.compare(0, wanted.size(), wanted) == 0
                              && name[wanted.size()] == '.');
}

// True when `wanted` appears in `names` as a run of consecutive entries.
bool containsRun(const std::vector<std::string>& names, const std::vector<std::string>& wanted)
{
    for (size_t start = 0; start + wanted.size() <= names.size(); ++start) {
        size_t i = 0;
        while (i < wanted.size() && sameFunction(names[start + i], wanted[i]))
            ++i;
        if (i == wanted.size())
            return true;
    }
    return false;
}

// The signals a thread blocking every signal said it took ("took=<n>" lines).
std::vector<int> signalsTaken(const std::string& output)
{
    std::vector<int> took;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("took=", 0) == 0)
            took.push_back(std::stoi(line.substr(5)));
    }
    return took;
}

std::string joined(const std::vector<std::string>& names)
{
    constexpr size_t kShown = 16;
    std::string text;
    for (size_t i = 0; i < names.size() && i < kShown; ++i)
        text += names[i] + " ";
    if (names.size() > kShown)
        text += "... (" + std::to_string(names.size()) + " frames)";
    return text;
}

class CrashMatrix : public testing::TestWithParam<MatrixParam> { };

} // namespace

TEST_P(CrashMatrix, NextLaunchFindsDecodesAndPurgesTheReport)
{
    const Case& c = std::get<0>(GetParam());
    const std::string mode = std::string(c.mode) + std::get<1>(GetParam()).suffix;
    QTemporaryDir base;
    ASSERT_TRUE(base.isValid());

    const CrashChildRun child = CrashChildRun::run(mode.c_str(), base.path());
    ASSERT_TRUE(child.killedBy(c.signo)) << "status " << child.status << ", output: " << child.output;

    // The next launch: a reporter for the same application and folder.
    VXCrashReporter next(QString::fromLatin1(crashchild::kApplicationIdentifier),
                         QString::fromLatin1(crashchild::kApplicationVersion),
                         QString::fromLatin1(crashchild::kMarketingVersion), VXCrashReporterConfig(base.path()));
    EXPECT_TRUE(next.crashReportDirectory().endsWith("/app.vellox.crashreporter.data/app.vellox_crash-test"));
    ASSERT_TRUE(next.hasPendingCrashReport());
    VXCrashReporterError error;
    const auto data = next.loadPendingCrashReportData(&error);
    ASSERT_TRUE(data) << error.localizedDescription.toStdString();
    // report_info comes first: not requested by the user, then the UUID.
    EXPECT_EQ(data->mid(8, 4).toHex(), "4a140800");
    const auto report = VXCrashReport::fromData(*data, &error);
    ASSERT_TRUE(report) << error.localizedDescription.toStdString();
    EXPECT_TRUE(next.purgePendingCrashReport(&error));
    EXPECT_FALSE(next.hasPendingCrashReport());

    // Signal, code and address.
    const auto& signal = *report->signalInfo();
    EXPECT_EQ(signal.name(), c.signal);
    if (c.code) {
        EXPECT_EQ(signal.code(), c.code);
    }

    // The crashed thread: registers before its frames, and the frames of the
    // crashing functions in order.
    std::shared_ptr<const VXCrashReportThreadInfo> crashed;
    int crashedCount = 0;
    for (const auto& thread : report->threads()) {
        if (thread->crashed()) {
            crashed = thread;
            ++crashedCount;
        }
    }
    ASSERT_EQ(crashedCount, 1);
    ASSERT_FALSE(crashed->stackFrames().isEmpty());
    const uint64_t pc = crashed->stackFrames()[0]->instructionPointer();
    bool sawPc = false;
    for (const auto& reg : crashed->registers()) {
        if (reg->registerName() == "rip") {
            sawPc = true;
            EXPECT_EQ(reg->registerValue(), pc);
        }
    }
    EXPECT_TRUE(sawPc) << "no rip among " << crashed->registers().size() << " registers";
    const auto names = frameNames(*crashed);
    EXPECT_TRUE(containsRun(names, c.frames)) << joined(names);

    switch (c.address) {
    case Address::Announced:
        EXPECT_EQ(signal.address(), child.announcedAddress());
        break;
    case Address::FaultingPc:
        EXPECT_EQ(signal.address(), pc);
        break;
    case Address::None:
        EXPECT_EQ(signal.address(), 0u);
        break;
    case Address::Any:
        EXPECT_NE(signal.address(), 0u);
        break;
    }

    // The other threads were stopped where they were parked.
    int parked = 0;
    for (const auto& thread : report->threads()) {
        if (!thread->crashed() && containsRun(frameNames(*thread), {"vellox_parked_worker"}))
            ++parked;
        if (!thread->crashed()) {
            EXPECT_TRUE(thread->registers().isEmpty());
        }
    }
    EXPECT_EQ(parked, crashchild::kParkedThreads);

    // Images with their build-ids: the child itself and the C library.
    bool sawChild = false;
    bool sawLibc = false;
    for (const auto& image : report->images()) {
        const QString name = image->imageName();
        if (name == QString::fromLocal8Bit(VELLOX_CRASH_CHILD)) {
            sawChild = true;
            EXPECT_EQ(image->imageUUID().size(), 40) << name.toStdString();
        }
        if (name.contains("libc.so")) {
            sawLibc = true;
            EXPECT_EQ(image->imageUUID().size(), 40) << name.toStdString();
        }
    }
    EXPECT_TRUE(sawChild);
    EXPECT_TRUE(sawLibc);
    EXPECT_TRUE(report->imageForAddress(pc)) << "no image holds the crashing pc";

    int pluginImages = 0;
    int otherPluginImages = 0;
    for (const auto& image : report->images()) {
        pluginImages += image->imageName() == QString::fromLocal8Bit(VELLOX_CRASH_PLUGIN);
        otherPluginImages += image->imageName() == QString::fromLocal8Bit(VELLOX_CRASH_PLUGIN_OTHER);
    }
    if (c.plugin == Plugin::Crashed) {
        const auto holder = report->imageForAddress(pc);
        ASSERT_TRUE(holder);
        EXPECT_EQ(holder->imageName(), QString::fromLocal8Bit(VELLOX_CRASH_PLUGIN));
        EXPECT_EQ(holder->imageUUID().size(), 40);
        EXPECT_EQ(pluginImages, 1);
    } else if (c.plugin == Plugin::Unloaded) {
        EXPECT_EQ(pluginImages, 0);
        EXPECT_EQ(otherPluginImages, 1);
    }

    if (c.crashInfoPart) {
        EXPECT_TRUE(signal.crashInfoMessage().contains(c.crashInfoPart)) << signal.crashInfoMessage().toStdString();
    }
    if (c.exceptionName) {
        ASSERT_TRUE(report->hasExceptionInfo());
        EXPECT_EQ(report->exceptionInfo()->exceptionName(), c.exceptionName);
        EXPECT_EQ(report->exceptionInfo()->exceptionReason(), "boom");
        ASSERT_TRUE(report->exceptionInfo()->stackFrames());
        std::vector<std::string> thrownFrom;
        for (const auto& frame : *report->exceptionInfo()->stackFrames())
            thrownFrom.push_back(frame->symbolInfo() ? frame->symbolInfo()->symbolName().toStdString() : "?");
        EXPECT_TRUE(containsRun(thrownFrom, kCrashChain)) << joined(thrownFrom);
    } else {
        EXPECT_FALSE(report->hasExceptionInfo());
    }

    EXPECT_EQ(report->customData(), QByteArray(reinterpret_cast<const char*>(crashchild::kCustomData),
                                               sizeof crashchild::kCustomData));
    EXPECT_EQ(report->applicationInfo()->applicationIdentifier(), crashchild::kApplicationIdentifier);
    ASSERT_TRUE(report->hasProcessInfo());
    EXPECT_EQ(report->processInfo()->processPath(), QString::fromLocal8Bit(VELLOX_CRASH_CHILD));
}

INSTANTIATE_TEST_SUITE_P(
    Child, CrashMatrix,
    testing::Combine(testing::Values(
        Case{"null-write", SIGSEGV, "SIGSEGV", "SEGV_MAPERR", Address::Announced, kCrashChain},
        Case{"read-only-write", SIGSEGV, "SIGSEGV", "SEGV_ACCERR", Address::Announced, kCrashChain},
        Case{"stack-overflow", SIGSEGV, "SIGSEGV", nullptr, Address::Any, {"vellox_recurse", "vellox_recurse"}},
        Case{"stack-overflow-enabled-on-worker", SIGSEGV, "SIGSEGV", nullptr, Address::Any,
             {"vellox_recurse", "vellox_recurse"}},
        Case{"null-write-enabled-on-worker", SIGSEGV, "SIGSEGV", "SEGV_MAPERR", Address::Announced, kCrashChain},
        Case{"divide-by-zero", SIGFPE, "SIGFPE", "FPE_INTDIV", Address::FaultingPc, kCrashChain},
        Case{"trap", SIGILL, "SIGILL", "ILL_ILLOPN", Address::FaultingPc, kCrashChain},
        Case{"truncated-mapping", SIGBUS, "SIGBUS", "BUS_ADRERR", Address::Announced, kCrashChain},
        Case{"abort", SIGABRT, "SIGABRT", "#-6", Address::None, kCrashChain},
        Case{"assert", SIGABRT, "SIGABRT", "#-6", Address::None, kCrashChain, "Assertion `false' failed."},
        Case{"uncaught-exception", SIGABRT, "SIGABRT", "#-6", Address::None, kCrashChain, nullptr,
             "std::runtime_error"},
        Case{"null-write-in-signal-handler", SIGSEGV, "SIGSEGV", "SEGV_MAPERR", Address::Announced,
             {"vellox_crash_inner", "vellox_crash_middle", "vellox_crash_outer", "vellox_signal_handler_crash"}},
        Case{"abort-in-malloc", SIGABRT, "SIGABRT", "#-6", Address::None, kCrashChain, "invalid next size"},
        Case{"plugin-null-write", SIGSEGV, "SIGSEGV", "SEGV_MAPERR", Address::Announced,
             {"vellox_plugin_inner", "vellox_plugin_middle", "vellox_plugin_outer", "vellox_crash_run"}, nullptr,
             nullptr, Plugin::Crashed},
        Case{"plugin-unloaded", SIGSEGV, "SIGSEGV", "SEGV_MAPERR", Address::Announced, kCrashChain, nullptr, nullptr,
             Plugin::Unloaded}), testing::ValuesIn(kPlacements)),
    caseName);

class CrashTogether : public testing::TestWithParam<int> { };

// However the threads' faults interleave, the first to crash writes one whole
// report and the others wait for the process to end.
TEST_P(CrashTogether, ThreadsFaultingAtOnceLeaveOneWholeReport)
{
    constexpr int kRuns = 50;
    const std::string mode = "fault-together-" + std::to_string(GetParam());
    int decoded = 0;
    for (int run = 0; run < kRuns; ++run) {
        SCOPED_TRACE("run " + std::to_string(run));
        QTemporaryDir base;
        ASSERT_TRUE(base.isValid());
        const CrashChildRun child = CrashChildRun::run(mode.c_str(), base.path());
        ASSERT_TRUE(child.killedBy(SIGSEGV)) << "status " << child.status << ", output: " << child.output;

        VXCrashReporter next(QString::fromLatin1(crashchild::kApplicationIdentifier),
                             QString::fromLatin1(crashchild::kApplicationVersion),
                             QString::fromLatin1(crashchild::kMarketingVersion), VXCrashReporterConfig(base.path()));
        // The report alone: no partial one beside it.
        EXPECT_EQ(QDir(next.crashReportDirectory()).entryList(QDir::Files | QDir::Hidden),
                  QStringList{QString::fromLatin1(VXCrashReporter::kLiveReportFileName)});
        VXCrashReporterError error;
        const auto data = next.loadPendingCrashReportData(&error);
        ASSERT_TRUE(data) << error.localizedDescription.toStdString();
        const auto report = VXCrashReport::fromData(*data, &error);
        ASSERT_TRUE(report) << error.localizedDescription.toStdString();
        std::vector<std::shared_ptr<const VXCrashReportThreadInfo>> crashed;
        for (const auto& thread : report->threads()) {
            if (thread->crashed())
                crashed.push_back(thread);
        }
        ASSERT_EQ(crashed.size(), 1u);
        const auto names = frameNames(*crashed[0]);
        EXPECT_TRUE(containsRun(names, {"vellox_fault_together"})) << joined(names);
        EXPECT_EQ(report->signalInfo()->address(), crashchild::kNullWriteOffset);
        ++decoded;
    }
    EXPECT_EQ(decoded, kRuns);
}

INSTANTIATE_TEST_SUITE_P(Child, CrashTogether, testing::Values(2, 8), [](const testing::TestParamInfo<int>& info) {
    return std::to_string(info.param) + "_threads";
});

namespace {

// Field 22 of /proc/<pid>/stat: when the process started, in clock ticks
// after boot. 0 when the process is gone.
unsigned long long startTicks(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat;
    std::getline(in, stat);
    const auto close = stat.rfind(')');
    if (close == std::string::npos)
        return 0;
    std::istringstream fields(stat.substr(close + 2));
    std::string field;
    for (int number = 3; fields >> field; ++number) {
        if (number == 22)
            return std::stoull(field);
    }
    return 0;
}

} // namespace

// A partial report is left by a crash whose process ended while writing it.
// The one of a process still running stays; a process is the one that wrote
// the file only when its start time matches too, since pids are reused.
TEST(CrashReportFolder, EnableRemovesPartialReportsOfEndedProcessesOnly)
{
    QTemporaryDir base;
    ASSERT_TRUE(base.isValid());
    const VXCrashReporter layout = nextLaunch(base.path());
    ASSERT_TRUE(QDir().mkpath(layout.crashReportDirectory()));
    const pid_t ended = fork();
    if (ended == 0)
        _exit(0);
    int status = 0;
    waitpid(ended, &status, 0);
    const unsigned long long running = startTicks(getpid());
    ASSERT_GT(running, 0u);

    struct Partial {
        const char* what;
        pid_t pid;
        unsigned long long ticks;
        bool kept;
    };
    const Partial partials[] = {
        {"a process that ended", ended, running, false},
        {"a process that runs (this one)", getpid(), running, true},
        {"an ended process whose pid this one now has", getpid(), running - 1, false},
        {"an older name without the start time, of a pid now reused", getpid(), 0, false},
    };
    const auto path = [&](const Partial& p) {
        return layout.crashReportPath() + "." + QString::number(p.pid)
               + (p.ticks ? "." + QString::number(p.ticks) : QString()) + ".partial";
    };
    for (const Partial& p : partials) {
        QFile file(path(p));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << p.what;
        file.write("vxcrash\x01\x0a", 9);
    }

    const CrashChildRun child = CrashChildRun::run("null-write", base.path());
    ASSERT_TRUE(child.killedBy(SIGSEGV)) << "status " << child.status << ", output: " << child.output;
    for (const Partial& p : partials) {
        EXPECT_EQ(QFile::exists(path(p)), p.kept) << p.what;
    }
    EXPECT_TRUE(QFile::exists(layout.crashReportPath()));
}

// A child forked after the reporter was enabled is a process of its own: its
// report names it, not the process it was forked from, and is written under
// a partial name of its own.
TEST(ForkedChild, WritesAReportNamingItselfUnderItsOwnPartialName)
{
    QTemporaryDir base;
    ASSERT_TRUE(base.isValid());
    const VXCrashReporter layout = nextLaunch(base.path());
    ASSERT_TRUE(QDir().mkpath(layout.crashReportDirectory()));
    const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(inotify_add_watch(watch, QFile::encodeName(layout.crashReportDirectory()).constData(), IN_CREATE), 0);

    const CrashChildRun parent = CrashChildRun::run("forked-child", base.path());
    ASSERT_TRUE(parent.killedBy(SIGSEGV)) << "status " << parent.status << ", output: " << parent.output;
    // Both announce their fault address too, so each value is looked up by its name.
    const auto value = [&](const std::string& key) {
        const auto at = parent.output.find(key + "=");
        return at == std::string::npos ? -1ll : std::atoll(parent.output.c_str() + at + key.size() + 1);
    };
    const long long parentPid = value("parent-pid");
    const long long childPid = value("child-pid");
    const long long parentStart = value("parent-start");
    const long long childStart = value("child-start");
    const long long childSignal = value("child-signal");
    ASSERT_GT(parentPid, 0) << parent.output;
    ASSERT_GT(childPid, 0) << parent.output;
    EXPECT_EQ(childSignal, SIGSEGV);

    std::string why;
    const auto childReport = decodeFile(layout.crashReportDirectory() + "/forked_child_report.vxcrash", &why);
    ASSERT_TRUE(childReport) << why << "; output: " << parent.output;
    const auto parentReport = decodeFile(layout.crashReportPath(), &why);
    ASSERT_TRUE(parentReport) << why;
    ASSERT_TRUE(childReport->hasProcessInfo() && parentReport->hasProcessInfo());
    const auto& childInfo = *childReport->processInfo();
    const auto& parentInfo = *parentReport->processInfo();
    std::cout << "forked child: pid " << childInfo.processID() << ", parent " << childInfo.parentProcessID()
              << ", report " << childReport->uuidRef().value_or(QUuid()).toString().toStdString()
              << "; its parent: pid " << parentInfo.processID() << ", report "
              << parentReport->uuidRef().value_or(QUuid()).toString().toStdString() << std::endl;

    EXPECT_EQ(childInfo.processID(), uint32_t(childPid));
    EXPECT_EQ(childInfo.parentProcessID(), uint32_t(parentPid));
    EXPECT_EQ(childInfo.parentProcessName().toStdString(), parentInfo.processName().toStdString());
    ASSERT_TRUE(childInfo.processStartTime());
    EXPECT_EQ(childInfo.processStartTime()->toSecsSinceEpoch(), childStart);
    EXPECT_EQ(parentInfo.processID(), uint32_t(parentPid));
    ASSERT_TRUE(parentInfo.processStartTime());
    EXPECT_EQ(parentInfo.processStartTime()->toSecsSinceEpoch(), parentStart);
    ASSERT_TRUE(childReport->uuidRef() && parentReport->uuidRef());
    EXPECT_NE(*childReport->uuidRef(), *parentReport->uuidRef());
    EXPECT_EQ(childReport->uuidRef()->version(), QUuid::Random);

    // Each wrote under its own partial name, named after its pid.
    std::vector<std::string> partials;
    alignas(inotify_event) char events[8192];
    ssize_t got;
    while ((got = read(watch, events, sizeof events)) > 0) {
        for (char* at = events; at < events + got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(at);
            const std::string name = event->len ? event->name : "";
            if (name.size() > 8 && name.compare(name.size() - 8, 8, ".partial") == 0)
                partials.push_back(name);
            at += sizeof(inotify_event) + event->len;
        }
    }
    close(watch);
    ASSERT_EQ(partials.size(), 2u);
    EXPECT_NE(partials[0], partials[1]);
    EXPECT_NE(partials[0].find("." + std::to_string(childPid) + "."), std::string::npos) << partials[0];
    EXPECT_NE(partials[1].find("." + std::to_string(parentPid) + "."), std::string::npos) << partials[1];
}

class ThreadRunningAtEnable : public testing::TestWithParam<const char*> { };

// A thread that runs while the reporter is enabled is handed an alternate
// stack by a signal, whatever it is doing. The stack must outlast the
// handler that installed it.
TEST_P(ThreadRunningAtEnable, KeepsTheAlternateStackItWasHanded)
{
    QTemporaryDir base;
    ASSERT_TRUE(base.isValid());
    const std::string mode = std::string("alternate-stack@early-") + GetParam();
    const CrashChildRun child = CrashChildRun::run(mode.c_str(), base.path());
    ASSERT_TRUE(child.exitedWith(0)) << "status " << child.status << ", output: " << child.output;
    EXPECT_NE(child.output.find("alternate-stack=" + std::to_string(kVXCrashAlternateStackSize) + " disabled=0"),
              std::string::npos)
        << child.output;
}

// Its stack overflowing is reported, every time.
TEST_P(ThreadRunningAtEnable, EveryOverflowIsReported)
{
    constexpr int kRuns = 5;
    const std::string mode = std::string("stack-overflow@early-") + GetParam();
    int reported = 0;
    for (int run = 0; run < kRuns; ++run) {
        SCOPED_TRACE("run " + std::to_string(run));
        QTemporaryDir base;
        ASSERT_TRUE(base.isValid());
        const CrashChildRun child = CrashChildRun::run(mode.c_str(), base.path());
        EXPECT_TRUE(child.killedBy(SIGSEGV)) << "status " << child.status << ", output: " << child.output;
        std::string why;
        const auto report = decodeFile(nextLaunch(base.path()).crashReportPath(), &why);
        if (!report) {
            ADD_FAILURE() << why;
            continue;
        }
        for (const auto& thread : report->threads()) {
            if (thread->crashed() && containsRun(frameNames(*thread), {"vellox_recurse", "vellox_recurse"}))
                ++reported;
        }
    }
    std::cout << "overflow on a thread running at enable (" << GetParam() << "): " << reported << " of " << kRuns
              << " reported" << std::endl;
    EXPECT_EQ(reported, kRuns);
}

INSTANTIATE_TEST_SUITE_P(Child, ThreadRunningAtEnable, testing::Values("busy", "sleep", "condition", "read"),
                         [](const testing::TestParamInfo<const char*>& info) { return std::string(info.param); });

class ThreadBlockingSignalsAtEnable : public testing::TestWithParam<const char*> { };

// A thread that blocks every signal could take the one that hands out stacks
// as its own, with sigwait or a signalfd, and act on it: it is never sent
// one, so it has no alternate stack. Here it tells the signals it took and
// those left pending for it.
TEST_P(ThreadBlockingSignalsAtEnable, IsSentNoSignalAndHandedNoStack)
{
    QTemporaryDir base;
    ASSERT_TRUE(base.isValid());
    const std::string mode = std::string("alternate-stack@early-") + GetParam();
    const CrashChildRun child = CrashChildRun::run(mode.c_str(), base.path());
    ASSERT_TRUE(child.exitedWith(0)) << "status " << child.status << ", output: " << child.output;
    if (std::string(GetParam()) == "sigwait") {
        EXPECT_EQ(signalsTaken(child.output), std::vector<int>{SIGUSR1}) << child.output;
    }
    EXPECT_NE(child.output.find("pending=\n"), std::string::npos) << child.output;
    EXPECT_NE(child.output.find(" disabled=1"), std::string::npos) << child.output;
}

INSTANTIATE_TEST_SUITE_P(Child, ThreadBlockingSignalsAtEnable, testing::Values("blocked", "sigwait"),
                         [](const testing::TestParamInfo<const char*>& info) { return std::string(info.param); });

struct BesideCase {
    const char* name;
    const char* mode;
    bool crashes;
    std::vector<int> took;
};

void PrintTo(const BesideCase& c, std::ostream* os)
{
    *os << c.mode;
}

class ThreadBlockingSignalsAtReport : public testing::TestWithParam<BesideCase> { };

// The threads are stopped for a report by a signal of the reporter's own. A
// thread that blocks every signal, or takes them with sigwait, would never
// answer it, and would take it as its own once a live report is done, or
// hold the crash report up until the wait for it gives up: it is never sent
// one, and is listed without frames.
TEST_P(ThreadBlockingSignalsAtReport, IsSentNoStopSignalAndListedWithoutFrames)
{
    const BesideCase& c = GetParam();
    QTemporaryDir base;
    ASSERT_TRUE(base.isValid());
    const CrashChildRun child = CrashChildRun::run(c.mode, base.path());
    const auto ended = std::chrono::steady_clock::now();
    if (c.crashes) {
        ASSERT_TRUE(child.killedBy(SIGSEGV)) << "status " << child.status << ", output: " << child.output;
    } else {
        ASSERT_TRUE(child.exitedWith(0)) << "status " << child.status << ", output: " << child.output;
        EXPECT_NE(child.output.find("pending=\n"), std::string::npos) << child.output;
    }
    EXPECT_EQ(signalsTaken(child.output), c.took) << child.output;

    int threads = 0;
    long long startNs = 0;
    const auto at = child.output.find("threads=");
    ASSERT_NE(at, std::string::npos) << child.output;
    ASSERT_EQ(std::sscanf(child.output.c_str() + at, "threads=%d clock-ns=%lld", &threads, &startNs), 2);
    std::string why;
    const auto report = decodeFile(c.crashes ? nextLaunch(base.path()).crashReportPath()
                                             : base.path() + "/live.vxcrash",
                                   &why);
    ASSERT_TRUE(report) << why << "; output: " << child.output;
    EXPECT_EQ(report->threads().size(), threads);
    int withoutFrames = 0;
    int parked = 0;
    for (const auto& thread : report->threads()) {
        const auto names = frameNames(*thread);
        withoutFrames += names.empty();
        parked += containsRun(names, {"vellox_parked_worker"});
        if (thread->crashed() && c.crashes) {
            EXPECT_TRUE(containsRun(names, kCrashChain)) << joined(names);
        }
    }
    EXPECT_EQ(withoutFrames, 1);
    EXPECT_EQ(parked, crashchild::kParkedThreads);
    // Not waiting for the thread saves the writer the stop timeout, but on a
    // loaded machine the report alone can take longer: the time is shown,
    // not checked.
    if (c.crashes) {
        const auto elapsed = ended - std::chrono::steady_clock::time_point(std::chrono::nanoseconds(startNs));
        std::cout << "crash beside a thread in sigwait, from the fault to the child's end: "
                  << std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count() << " ms" << std::endl;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Child, ThreadBlockingSignalsAtReport,
    testing::Values(BesideCase{"live_report_beside_blocked", "live-report@beside-blocked", false, {}},
                    BesideCase{"live_report_beside_sigwait", "live-report@beside-sigwait", false, {SIGUSR1}},
                    BesideCase{"crash_beside_sigwait", "null-write@beside-sigwait", true, {}}),
    [](const testing::TestParamInfo<BesideCase>& info) { return std::string(info.param.name); });

// The spy the children run with catches a crash handler that allocates: a
// crash callback, which runs inside the handler, does so here.
TEST(CrashHandlerSpy, FailsTheRunWhenTheHandlerAllocates)
{
    QTemporaryDir base;
    ASSERT_TRUE(base.isValid());
    const CrashChildRun child = CrashChildRun::run("allocating-callback", base.path());
    EXPECT_TRUE(child.exitedWith(crashchild::kSpyExitCode)) << "status " << child.status;
    EXPECT_NE(child.output.find("handler spy: malloc called in the crash handler"), std::string::npos) << child.output;
}
