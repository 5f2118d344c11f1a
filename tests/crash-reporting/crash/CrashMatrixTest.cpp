#include "CrashChildProtocol.h"
#include "CrashChildRun.h"
#include "crash-reporting/reporter/VXCrashReport.h"
#include "crash-reporting/reporter/VXCrashReporter.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>
#include <string>
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

const std::vector<std::string> kCrashChain = {"vellox_crash_inner", "vellox_crash_middle", "vellox_crash_outer"};

std::string caseName(const testing::TestParamInfo<Case>& info)
{
    std::string name = info.param.mode;
    for (char& c : name) {
        if (c == '-')
            c = '_';
    }
    return name;
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

class CrashMatrix : public testing::TestWithParam<Case> { };

} // namespace

TEST_P(CrashMatrix, NextLaunchFindsDecodesAndPurgesTheReport)
{
    const Case& c = GetParam();
    QTemporaryDir base;
    ASSERT_TRUE(base.isValid());

    const CrashChildRun child = CrashChildRun::run(c.mode, base.path());
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
    testing::Values(
        Case{"null-write", SIGSEGV, "SIGSEGV", "SEGV_MAPERR", Address::Announced, kCrashChain},
        Case{"null-write-on-thread", SIGSEGV, "SIGSEGV", "SEGV_MAPERR", Address::Announced, kCrashChain},
        Case{"read-only-write", SIGSEGV, "SIGSEGV", "SEGV_ACCERR", Address::Announced, kCrashChain},
        Case{"stack-overflow", SIGSEGV, "SIGSEGV", nullptr, Address::Any, {"vellox_recurse", "vellox_recurse"}},
        Case{"stack-overflow-on-thread", SIGSEGV, "SIGSEGV", nullptr, Address::Any,
             {"vellox_recurse", "vellox_recurse"}},
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
             {"vellox_plugin_inner", "vellox_plugin_middle", "vellox_plugin_outer", "main"}, nullptr, nullptr,
             Plugin::Crashed},
        Case{"plugin-unloaded", SIGSEGV, "SIGSEGV", "SEGV_MAPERR", Address::Announced, kCrashChain, nullptr, nullptr,
             Plugin::Unloaded}),
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

TEST(CrashReportFolder, EnableRemovesPartialReportsOfEndedProcessesOnly)
{
    QTemporaryDir base;
    ASSERT_TRUE(base.isValid());
    const VXCrashReporter layout(QString::fromLatin1(crashchild::kApplicationIdentifier),
                                 QString::fromLatin1(crashchild::kApplicationVersion),
                                 QString::fromLatin1(crashchild::kMarketingVersion),
                                 VXCrashReporterConfig(base.path()));
    ASSERT_TRUE(QDir().mkpath(layout.crashReportDirectory()));
    // A process that has ended, and one that runs (this one).
    const pid_t ended = fork();
    if (ended == 0)
        _exit(0);
    int status = 0;
    waitpid(ended, &status, 0);
    const auto partial = [&](pid_t pid) {
        return layout.crashReportPath() + "." + QString::number(pid) + ".partial";
    };
    for (pid_t pid : {ended, getpid()}) {
        QFile file(partial(pid));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("vxcrash\x01\x0a", 9);
    }

    const CrashChildRun child = CrashChildRun::run("null-write", base.path());
    ASSERT_TRUE(child.killedBy(SIGSEGV)) << "status " << child.status << ", output: " << child.output;
    EXPECT_FALSE(QFile::exists(partial(ended)));
    EXPECT_TRUE(QFile::exists(partial(getpid())));
    EXPECT_TRUE(QFile::exists(layout.crashReportPath()));
}

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
