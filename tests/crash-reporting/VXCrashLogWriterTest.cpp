#include "CrashWriterOutputs.h"
#include "FakeCrashWriterTarget.h"
#include "crash-reporting/reporter/VXCrashLogWriter.h"
#include "crash-reporting/reporter/VXCrashReport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <memory>

namespace {

constexpr int64_t kTimestamp = 1700000000;
constexpr pid_t kCrashedTid = 100;
constexpr pid_t kOtherTid = 101;
constexpr uint64_t kImageBase = 0x400000;
constexpr uint64_t kImageSize = 0x10000;

int64_t fixedClock()
{
    return kTimestamp;
}

vxcrash_writer_facts fakeFacts()
{
    vxcrash_writer_facts facts;
    facts.has_process = true;
    facts.pid = 4242;
    facts.process_name = "vellox";
    facts.process_path = "/usr/bin/vellox";
    facts.start_time = 1699999000;
    facts.parent_pid = 1;
    facts.parent_name = "systemd";
    facts.model = "Fake Machine";
    facts.cpu_type = 0x1000007;
    facts.cpu_subtype = 3;
    facts.processor_count = 4;
    facts.logical_processor_count = 8;
    facts.os_version = "6.1.76";
    facts.os_build = "#1 SMP";
    for (uint8_t i = 0; i < 16; ++i)
        facts.uuid[i] = i;
    return facts;
}

// A writer over fixed facts and a clock that stands still.
struct Writer {
    explicit Writer(const vxcrash_writer_facts& facts = fakeFacts(), const std::string& marketing = "1.2",
                    uint32_t strategy = 1, bool userRequested = false)
    {
        EXPECT_EQ(vxcrash_log_writer_init_with_facts(&state, facts, "app.vellox.test", "7", marketing, strategy,
                                                     userRequested),
                  VXCRASH_WRITER_OK);
        state.clock = fixedClock;
    }
    ~Writer() { vxcrash_log_writer_free(&state); }
    vxcrash_log_writer state;
};

// Two threads: the crashed one, which is the caller and hands its own state
// in, and another stopped one; one image holding the crashing function.
FakeCrashWriterTarget twoThreads()
{
    FakeCrashWriterTarget target;
    target.self = kCrashedTid;
    target.threads = {
        {kCrashedTid, {0x401234, 0x900000}, {{"rip", 0x401234}, {"rsp", 0x7ffc0000}}},
        {kOtherTid, {0x401300}, {{"rip", 0x401300}}},
    };
    target.images = {{kImageBase, kImageSize, "/usr/bin/vellox", {0xAB, 0xCD, 0xEF}, "assertion failed: x"}};
    target.symbols = {{0x401200, "crash_here"}, {0x401300, "worker"}};
    return target;
}

vxcrash_log_bsd_signal_info segv{SIGSEGV, SEGV_MAPERR, 0x10};
vxcrash_log_signal_info segvInfo{&segv, nullptr};

QByteArray write(Writer& writer, FakeCrashWriterTarget& target, pid_t crashed = kCrashedTid,
                 const vxcrash_log_signal_info* signal = &segvInfo, int* status = nullptr)
{
    MemoryWriterOutput out;
    const void* captured = target.self == crashed ? &target.threads[0] : nullptr;
    const int result = vxcrash_log_writer_write(&writer.state, target, crashed, &out, signal, captured);
    if (status)
        *status = result;
    else
        EXPECT_EQ(result, VXCRASH_WRITER_OK);
    return out.bytes;
}

std::shared_ptr<const VXCrashReport> decode(const QByteArray& bytes)
{
    VXCrashReporterError error;
    auto report = VXCrashReport::fromData(bytes, &error);
    EXPECT_TRUE(report) << error.localizedDescription.toStdString();
    return report;
}

ProtoBytes frame(uint64_t pc)
{
    return ProtoBytes().varint(3, pc);
}

ProtoBytes frame(uint64_t pc, const char* symbol, uint64_t start)
{
    return ProtoBytes().varint(3, pc).message(6, ProtoBytes().text(1, symbol).varint(2, start));
}

ProtoBytes machProcessor(uint64_t type, uint64_t subtype)
{
    return ProtoBytes().varint(1, 1).varint(2, type).varint(3, subtype);
}

} // namespace

TEST(VXCrashLogWriter, WritesTheReportByteForByte)
{
    Writer writer;
    const char custom[] = {'c', 0, 'x', char(0xFF)};
    vxcrash_log_writer_set_custom_data(&writer.state, custom, sizeof custom);
    vxcrash_log_writer_set_exception(&writer.state, "std::runtime_error", "boom", {0x401250});
    FakeCrashWriterTarget target = twoThreads();

    const QByteArray bytes = write(writer, target);

    ProtoBytes expected;
    expected.message(9, ProtoBytes().varint(1, 0).text(2, QByteArray::fromHex("000102030405060708090a0b0c0d0e0f")))
        .message(1, ProtoBytes().varint(1, 0).text(2, "6.1.76").text(5, "#1 SMP").varint(3, 6).varint(4, kTimestamp))
        .message(8, ProtoBytes()
                        .text(1, "Fake Machine")
                        .message(2, machProcessor(0x1000007, 3))
                        .varint(3, 4)
                        .varint(4, 8))
        .message(2, ProtoBytes().text(1, "app.vellox.test").text(2, "7").text(3, "1.2"))
        .message(7, ProtoBytes()
                        .text(1, "vellox")
                        .varint(2, 4242)
                        .text(3, "/usr/bin/vellox")
                        .text(4, "systemd")
                        .varint(5, 1)
                        .varint(6, 1)
                        .varint(7, 1699999000))
        .message(3, ProtoBytes()
                        .varint(1, 0)
                        .varint(3, 1)
                        .message(4, ProtoBytes().text(1, "rip").varint(2, 0x401234))
                        .message(4, ProtoBytes().text(1, "rsp").varint(2, 0x7ffc0000))
                        .message(2, frame(0x401234, "crash_here", 0x401200))
                        .message(2, frame(0x900000)))
        .message(3, ProtoBytes().varint(1, 1).varint(3, 0).message(2, frame(0x401300, "worker", 0x401300)))
        .message(4, ProtoBytes()
                        .varint(2, kImageSize)
                        .varint(1, kImageBase)
                        .text(3, "/usr/bin/vellox")
                        .text(4, QByteArray::fromHex("abcdef"))
                        .message(5, machProcessor(0x1000007, 3)))
        .message(5, ProtoBytes().text(1, "std::runtime_error").text(2, "boom").message(3, frame(0x401250, "crash_here", 0x401200)))
        .message(6, ProtoBytes().text(1, "SIGSEGV").text(2, "SEGV_MAPERR").varint(3, 0x10).text(5, "assertion failed: x"))
        .text(10, QByteArray(custom, sizeof custom));

    EXPECT_EQ(bytes.left(8), QByteArray("vxcrash\x01", 8));
    EXPECT_EQ(bytes.mid(8).toHex(), expected.bytes.toHex());
    EXPECT_EQ(target.suspendCalls, 1);
    EXPECT_EQ(target.resumeCalls, 1);
    EXPECT_EQ(target.readMarks, 0);
}

TEST(VXCrashLogWriter, ReportDecodesWithEveryPart)
{
    Writer writer;
    const QByteArray custom("\x00\x01\x02 custom", 10);
    vxcrash_log_writer_set_custom_data(&writer.state, custom.constData(), size_t(custom.size()));
    FakeCrashWriterTarget target = twoThreads();

    auto report = decode(write(writer, target));
    ASSERT_TRUE(report);
    EXPECT_EQ(report->signalInfo()->name(), "SIGSEGV");
    EXPECT_EQ(report->signalInfo()->crashInfoMessage(), "assertion failed: x");
    ASSERT_EQ(report->threads().size(), 2);
    const auto& crashed = report->threads()[0];
    EXPECT_TRUE(crashed->crashed());
    ASSERT_EQ(crashed->stackFrames().size(), 2);
    EXPECT_EQ(crashed->stackFrames()[0]->symbolInfo()->symbolName(), "crash_here");
    EXPECT_FALSE(crashed->stackFrames()[1]->symbolInfo());
    EXPECT_EQ(crashed->registers().size(), 2);
    EXPECT_FALSE(report->threads()[1]->crashed());
    EXPECT_TRUE(report->threads()[1]->registers().isEmpty());
    EXPECT_EQ(report->images()[0]->imageUUID(), "abcdef");
    EXPECT_EQ(report->customData(), custom);
    EXPECT_EQ(report->applicationInfo()->applicationMarketingVersion(), "1.2");
    EXPECT_EQ(report->processInfo()->processPath(), "/usr/bin/vellox");
}

TEST(VXCrashLogWriter, UnknownTextsAreLeftOutNotWrittenEmpty)
{
    vxcrash_writer_facts facts = fakeFacts();
    facts.model.clear();
    facts.os_build.clear();
    facts.process_path.clear();
    facts.parent_name.clear();
    Writer writer(facts, "");
    FakeCrashWriterTarget target = twoThreads();

    auto report = decode(write(writer, target));
    ASSERT_TRUE(report);
    EXPECT_TRUE(report->applicationInfo()->applicationMarketingVersion().isNull());
    EXPECT_TRUE(report->systemInfo()->operatingSystemBuild().isNull());
    EXPECT_TRUE(report->machineInfo()->modelName().isNull());
    EXPECT_TRUE(report->processInfo()->processPath().isNull());
    EXPECT_TRUE(report->processInfo()->parentProcessName().isNull());
    EXPECT_EQ(report->processInfo()->processName(), "vellox");
}

TEST(VXCrashLogWriter, NamesSignalsAndCodesWithoutATableEntryByNumber)
{
    struct Case {
        const char* name;
        vxcrash_log_bsd_signal_info signal;
        const char* expectedName;
        const char* expectedCode;
    };
    const Case cases[] = {
        {"known pair", {SIGBUS, BUS_ADRERR, 0x1000}, "SIGBUS", "BUS_ADRERR"},
        {"signal without a name", {77, 3, 0}, "#77", "#3"},
        {"abort sent by the thread to itself", {SIGABRT, SI_TKILL, 0}, "SIGABRT", "#-6"},
        {"code 0 of SIGTRAP", {SIGTRAP, 0, 0}, "SIGTRAP", "#0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Writer writer;
        FakeCrashWriterTarget target = twoThreads();
        const vxcrash_log_signal_info info{&c.signal, nullptr};
        auto report = decode(write(writer, target, kCrashedTid, &info));
        ASSERT_TRUE(report);
        EXPECT_EQ(report->signalInfo()->name(), c.expectedName);
        EXPECT_EQ(report->signalInfo()->code(), c.expectedCode);
        EXPECT_EQ(report->signalInfo()->address(), c.signal.address);
    }
}

TEST(VXCrashLogWriter, CutsStacksAndExceptionsAtTheFrameLimit)
{
    Writer writer;
    FakeCrashWriterTarget target = twoThreads();
    target.threads[1].frames.assign(kVXCrashMaxFrames + 88, 0x401300);
    vxcrash_log_writer_set_exception(&writer.state, "E", "", std::vector<uint64_t>(kVXCrashMaxFrames + 1, 0x401250));

    auto report = decode(write(writer, target));
    ASSERT_TRUE(report);
    EXPECT_EQ(report->threads()[1]->stackFrames().size(), qsizetype(kVXCrashMaxFrames));
    EXPECT_EQ(report->exceptionInfo()->stackFrames()->size(), qsizetype(kVXCrashMaxFrames));
    EXPECT_EQ(report->exceptionInfo()->exceptionReason(), "");
}

TEST(VXCrashLogWriter, WritesTheCrashedThreadWhenTheThreadListCannotBeRead)
{
    Writer writer;
    FakeCrashWriterTarget target = twoThreads();
    target.listFails = true;

    auto report = decode(write(writer, target));
    ASSERT_TRUE(report);
    ASSERT_EQ(report->threads().size(), 1);
    EXPECT_TRUE(report->threads()[0]->crashed());
    EXPECT_EQ(report->threads()[0]->stackFrames().size(), 2);
    EXPECT_EQ(target.resumeCalls, 1);
}

TEST(VXCrashLogWriter, ReportOfAnotherThreadLeavesTheCallerOut)
{
    Writer writer(fakeFacts(), "1.2", 1, true);
    FakeCrashWriterTarget target = twoThreads();

    auto report = decode(write(writer, target, kOtherTid));
    ASSERT_TRUE(report);
    ASSERT_EQ(report->threads().size(), 1);
    EXPECT_EQ(report->threads()[0]->threadNumber(), 0);
    EXPECT_TRUE(report->threads()[0]->crashed());
    EXPECT_EQ(report->threads()[0]->stackFrames()[0]->instructionPointer(), 0x401300u);
    EXPECT_EQ(report->threads()[0]->registers().size(), 1);
}

TEST(VXCrashLogWriter, UnreadableRegistersAreWrittenAsZero)
{
    Writer writer;
    FakeCrashWriterTarget target = twoThreads();
    target.threads[0].registers[1].second = FakeCrashWriterTarget::kUnreadable;

    auto report = decode(write(writer, target));
    ASSERT_TRUE(report);
    EXPECT_EQ(report->threads()[0]->registers()[1]->registerName(), "rsp");
    EXPECT_EQ(report->threads()[0]->registers()[1]->registerValue(), 0u);
}

TEST(VXCrashLogWriter, NoSymbolStrategyLooksNothingUp)
{
    Writer writer(fakeFacts(), "1.2", 0);
    FakeCrashWriterTarget target = twoThreads();

    auto report = decode(write(writer, target));
    ASSERT_TRUE(report);
    EXPECT_TRUE(target.symbolLookups.empty());
    EXPECT_FALSE(report->threads()[0]->stackFrames()[0]->symbolInfo());
}

TEST(VXCrashLogWriter, AReportPastTheSizeCapFails)
{
    Writer writer;
    FakeCrashWriterTarget target = twoThreads();
    MemoryWriterOutput out(200);
    EXPECT_EQ(vxcrash_log_writer_write(&writer.state, target, kCrashedTid, &out, &segvInfo, &target.threads[0]),
              VXCRASH_WRITER_OUTPUT);
    EXPECT_EQ(target.resumeCalls, 1);
}

TEST(VXCrashLogWriter, SymbolPreparationFailureWritesNothing)
{
    Writer writer;
    FakeCrashWriterTarget target = twoThreads();
    target.prepareStatus = VXCRASH_WRITER_INTERNAL;
    int status = 0;
    EXPECT_TRUE(write(writer, target, kCrashedTid, &segvInfo, &status).isEmpty());
    EXPECT_EQ(status, VXCRASH_WRITER_INTERNAL);
    EXPECT_EQ(target.resumeCalls, 1);
}

TEST(VXCrashLogWriter, CustomDataIsAbsentUntilSetAndKeepsTheLatestBlock)
{
    Writer writer;
    FakeCrashWriterTarget target = twoThreads();
    auto none = decode(write(writer, target));
    ASSERT_TRUE(none);
    EXPECT_TRUE(none->customData().isNull());

    vxcrash_log_writer_set_custom_data(&writer.state, "first", 5);
    vxcrash_log_writer_set_custom_data(&writer.state, "", 0);
    // An empty block is still written: key 10, length 0, last in the report.
    EXPECT_TRUE(write(writer, target).endsWith(QByteArray("\x52\x00", 2)));

    vxcrash_log_writer_set_custom_data(&writer.state, nullptr, 0);
    auto cleared = decode(write(writer, target));
    ASSERT_TRUE(cleared);
    EXPECT_TRUE(cleared->customData().isNull());
}

TEST(VXCrashLogWriter, ReplacedCustomDataIsFreedOnceNoReportCanReadIt)
{
    Writer writer;
    for (int i = 0; i < 100; ++i)
        vxcrash_log_writer_set_custom_data(&writer.state, "context", 7);
    EXPECT_TRUE(writer.state.retired.empty());

    // A report being written elsewhere may hold the block: it is kept, and
    // freed by the first replacement after the report is done.
    writer.state.custom_data_readers.fetch_add(1);
    vxcrash_log_writer_set_custom_data(&writer.state, "newer", 5);
    vxcrash_log_writer_set_custom_data(&writer.state, "newest", 6);
    EXPECT_EQ(writer.state.retired.size(), 2u);
    writer.state.custom_data_readers.fetch_sub(1);
    vxcrash_log_writer_set_custom_data(&writer.state, "last", 4);
    EXPECT_TRUE(writer.state.retired.empty());

    FakeCrashWriterTarget target = twoThreads();
    auto report = decode(write(writer, target));
    ASSERT_TRUE(report);
    EXPECT_EQ(report->customData(), "last");
}

TEST(VXCrashLogWriter, InitFailsWithoutProcessFacts)
{
    vxcrash_writer_facts facts = fakeFacts();
    facts.has_process = false;
    vxcrash_log_writer state;
    EXPECT_EQ(vxcrash_log_writer_init_with_facts(&state, facts, "a", "1", "", 0, false),
              VXCRASH_WRITER_INVALID_ARGUMENT);
    vxcrash_log_writer_free(&state);
}

TEST(VXCrashLogWriterDeathTest, SettingASecondExceptionAborts)
{
    Writer writer;
    vxcrash_log_writer_set_exception(&writer.state, "A", "a", {});
    EXPECT_DEATH(vxcrash_log_writer_set_exception(&writer.state, "B", "b", {}), "already set");
}

TEST(VXCrashLogWriter, LargestReportItCanWriteStaysWithinTheBoundAndDecodes)
{
    // Every count at the writer's limit and every text at its longest: the
    // listed threads plus a crashed one that is not listed.
    Writer writer;
    FakeCrashWriterTarget target;
    target.self = kCrashedTid;
    std::vector<std::pair<std::string, uint64_t>> registers;
    for (size_t i = 0; i < kVXCrashReportMaxRegisters + 1; ++i)
        registers.emplace_back("r" + std::to_string(i), ~uint64_t(0));
    for (size_t i = 0; i < kVXCrashReportMaxThreads; ++i) {
        target.threads.push_back(
            {pid_t(kOtherTid + i), std::vector<uint64_t>(kVXCrashReportMaxFrames + 1, ~uint64_t(0) - 1), registers});
    }
    target.capturedThread = nullptr;
    const std::string path(kVXCrashReportMaxImageNameBytes + 10, 'p');
    for (size_t i = 0; i <= kVXCrashReportMaxImages; ++i)
        target.images.push_back({~uint64_t(0) - 0x1000 * (i + 1), 0x1000, path, std::vector<uint8_t>(64, 0xEE), ""});
    target.symbols = {{0, std::string(kVXCrashReportMaxSymbolNameBytes * 2, 's')}};
    const std::string text(kVXCrashReportMaxExceptionTextBytes + 10, 'e');
    vxcrash_log_writer_set_exception(&writer.state, text, text,
                                     std::vector<uint64_t>(kVXCrashReportMaxFrames + 1, ~uint64_t(0)));
    const QByteArray custom(qsizetype(kVXCrashReportMaxCustomDataBytes), 'c');
    ASSERT_TRUE(vxcrash_log_writer_set_custom_data(&writer.state, custom.constData(), size_t(custom.size())));
    EXPECT_FALSE(vxcrash_log_writer_set_custom_data(&writer.state, custom.constData(), size_t(custom.size()) + 1));

    const QByteArray bytes = write(writer, target, pid_t(kOtherTid + kVXCrashReportMaxThreads));
    EXPECT_LE(size_t(bytes.size()), kVXCrashReportMaxBytes);
    // The bound is not loose: a file much larger than any real one is refused.
    EXPECT_GT(size_t(bytes.size()), kVXCrashReportMaxBytes / 10 * 8);

    VXCrashReporterError error;
    auto report = VXCrashReport::fromData(bytes, &error);
    ASSERT_TRUE(report) << error.localizedDescription.toStdString();
    EXPECT_EQ(size_t(report->threads().size()), kVXCrashReportMaxThreads + 1);
    EXPECT_EQ(size_t(report->threads()[0]->stackFrames().size()), kVXCrashReportMaxFrames);
    EXPECT_EQ(size_t(report->images().size()), kVXCrashReportMaxImages);
    EXPECT_EQ(size_t(report->images()[0]->imageName().size()), kVXCrashReportMaxImageNameBytes);
    EXPECT_EQ(size_t(report->exceptionInfo()->exceptionReason().size()), kVXCrashReportMaxExceptionTextBytes);
    EXPECT_EQ(report->customData(), custom);
}
