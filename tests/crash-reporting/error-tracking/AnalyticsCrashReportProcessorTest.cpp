#include "CrashedRunFixture.h"
#include "crash-reporting/error-tracking/AnalyticsCrashReportProcessor.h"
#include "crash-reporting/error-tracking/AnalyticsInAppRule.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

using namespace analytics;
namespace processor = analytics::AnalyticsCrashReportProcessor;

namespace {

AnalyticsErrorTrackingConfig programConfig()
{
    AnalyticsErrorTrackingConfig config;
    config.setInAppIncludes({QStringLiteral("vellox")});
    return config;
}

std::string json(const QVariant& value)
{
    return QJsonDocument::fromVariant(value).toJson(QJsonDocument::Indented).toStdString();
}

std::string json(const char* text)
{
    return QJsonDocument::fromJson(text).toJson(QJsonDocument::Indented).toStdString();
}

QVariantMap onlyEntry(const QVariantMap& properties)
{
    const QVariantList list = properties.value(QStringLiteral("$exception_list")).toList();
    EXPECT_EQ(list.size(), 1);
    return list.value(0).toMap();
}

} // namespace

TEST(AnalyticsCrashReportProcessor, CrashedRunBecomesOneFatalEntryWithFramesAndImages)
{
    CrashedRunFixture fixture;
    const QVariantMap properties = processor::processReport(*fixture.decoded(), programConfig());
    // Frames run outermost first; libc is system code and the address no
    // image holds is nobody's. Addresses keep all their bits on x86-64.
    EXPECT_EQ(json(properties), json(R"({
      "$exception_level": "fatal",
      "$exception_list": [{
        "type": "SIGSEGV",
        "value": "SIGSEGV (code SEGV_MAPERR) at address 0x0000000000000010",
        "mechanism": {"type": "signal", "handled": false, "synthetic": false,
                      "meta": {"signal": {"code": "SEGV_MAPERR", "name": "SIGSEGV"}}},
        "thread_id": 1,
        "stacktrace": {"type": "raw", "frames": [
          {"instruction_addr": "0x000000000000dead", "platform": "apple", "in_app": false},
          {"instruction_addr": "0x00007f0000002000", "platform": "apple", "in_app": false,
           "module": "libc.so.6", "package": "libc.so.6", "image_addr": "0x00007f0000000000",
           "function": "__libc_start_main", "symbol_addr": "0x00007f0000001f00"},
          {"instruction_addr": "0x0000555555555200", "platform": "apple", "in_app": true,
           "module": "vellox", "package": "vellox", "image_addr": "0x0000555555554000"},
          {"instruction_addr": "0x0000555555555150", "platform": "apple", "in_app": true,
           "module": "vellox", "package": "vellox", "image_addr": "0x0000555555554000",
           "function": "_ZN6vellox5crashEv", "symbol_addr": "0x0000555555555140"}
        ]}
      }],
      "$debug_images": [
        {"type": "macho", "code_file": "/usr/lib/x86_64-linux-gnu/libc.so.6", "image_addr": "0x00007f0000000000",
         "image_size": 1900544, "debug_id": "DEADBEEF-0001-0203-0405-060708090A0B", "arch": "x86_64"},
        {"type": "macho", "code_file": "/usr/bin/vellox", "image_addr": "0x0000555555554000",
         "image_size": 12288, "debug_id": "0102030405060708090a0b0c0d0e0f1011121314", "arch": "x86_64"}
      ]
    })"));
}

TEST(AnalyticsCrashReportProcessor, UncaughtExceptionWinsOverTheSignalAndBringsItsOwnFrames)
{
    CrashedRunFixture fixture;
    fixture.addException("std::runtime_error", "disk full", {fixture.frame(CrashedRunFixture::kProgramBase + 0x1300)});
    QVariantMap entry = onlyEntry(processor::processReport(*fixture.decoded(), programConfig()));
    EXPECT_EQ(entry.value("type"), "std::runtime_error");
    EXPECT_EQ(entry.value("value"), "disk full");
    EXPECT_EQ(json(entry.value("mechanism")), json(R"({"type": "nsexception", "handled": false, "synthetic": false})"));
    QVariantList frames = entry.value("stacktrace").toMap().value("frames").toList();
    ASSERT_EQ(frames.size(), 1);
    EXPECT_EQ(frames[0].toMap().value("instruction_addr"), "0x0000555555555300");

    // An exception without frames falls back to the crashed thread's.
    fixture.exception.n_frames = 0;
    entry = onlyEntry(processor::processReport(*fixture.decoded(), programConfig()));
    EXPECT_EQ(entry.value("stacktrace").toMap().value("frames").toList().size(), 4);
}

TEST(AnalyticsCrashReportProcessor, WithoutACrashedThreadTheFirstThreadIsUsed)
{
    CrashedRunFixture fixture;
    fixture.crashedThread->crashed = false;
    const QVariantMap properties = processor::processReport(*fixture.decoded(), programConfig());
    const QVariantMap entry = onlyEntry(properties);
    EXPECT_EQ(entry.value("thread_id"), 0);
    const QVariantList frames = entry.value("stacktrace").toMap().value("frames").toList();
    ASSERT_EQ(frames.size(), 1);
    EXPECT_EQ(frames[0].toMap().value("module"), "libc.so.6");
    // Only the images the frames point into.
    ASSERT_EQ(properties.value("$debug_images").toList().size(), 1);
}

TEST(AnalyticsCrashReportProcessor, CrashInfoMessagesNameTheFatalErrorKind)
{
    struct Case {
        const char* message;
        const char* type;
        const char* value; // null: the signal message
        const char* meta; // the trimmed message in "meta", null: none
    };
    const Case cases[] = {
        {"  Fatal error: Index out of range: file Vellox/Store.swift, line 42\n", "Fatal error",
         "Fatal error: Index out of range: file Vellox/Store.swift, line 42",
         "Fatal error: Index out of range: file Vellox/Store.swift, line 42"},
        {"precondition FAILED: file a.swift, line 1", "precondition FAILED", "precondition FAILED: file a.swift, line 1",
         "precondition FAILED: file a.swift, line 1"},
        {"Vellox/Store.swift:42: Assertion failed: empty", "Assertion failed",
         "Vellox/Store.swift:42: Assertion failed: empty", "Vellox/Store.swift:42: Assertion failed: empty"},
        // A line break ends what "." matches: neither form applies.
        {"Fatal error: Index out of range\nfile Vellox/Store.swift, line 42", "SIGSEGV", nullptr,
         "Fatal error: Index out of range\nfile Vellox/Store.swift, line 42"},
        {"heap corrupted", "SIGSEGV", nullptr, "heap corrupted"},
        {" \n\t ", "SIGSEGV", nullptr, nullptr},
    };
    for (const Case& c : cases) {
        CrashedRunFixture fixture;
        fixture.signal.crash_info_message = const_cast<char*>(c.message);
        const QVariantMap entry = onlyEntry(processor::processReport(*fixture.decoded(), programConfig()));
        EXPECT_EQ(entry.value("type"), c.type) << c.message;
        EXPECT_EQ(entry.value("value"),
                  c.value ? QString::fromUtf8(c.value)
                          : QStringLiteral("SIGSEGV (code SEGV_MAPERR) at address 0x0000000000000010"))
            << c.message;
        const QVariantMap signal =
            entry.value("mechanism").toMap().value("meta").toMap().value("signal").toMap();
        EXPECT_EQ(signal.value("name"), "SIGSEGV");
        EXPECT_EQ(signal.contains("crash_info_message"), c.meta != nullptr) << c.message;
        if (c.meta) {
            EXPECT_EQ(signal.value("crash_info_message"), c.meta);
        }
    }
}

TEST(AnalyticsCrashReportProcessor, MachExceptionNamesAndMessages)
{
    struct Case {
        uint64_t type;
        QList<uint64_t> codes;
        const char* message;
    };
    const Case cases[] = {
        {1, {1, 16}, "EXC_BAD_ACCESS, Code KERN_INVALID_ADDRESS (1), Subcode 0x0000000000000010"},
        {1, {50}, "EXC_BAD_ACCESS, Code KERN_CODESIGN_ERROR (50)"},
        {1, {51}, "EXC_BAD_ACCESS, Code 51"},
        {1, {261}, "EXC_BAD_ACCESS, Code EXC_ARM_PAC_FAIL (261)"},
        {2, {2}, "EXC_BAD_INSTRUCTION, Code EXC_ARM_SME_DISALLOWED (2)"},
        {3, {2, 0xffffffffffffffff}, "EXC_ARITHMETIC, Code EXC_ARM_FP_DZ (2), Subcode 0xffffffffffffffff"},
        {5, {7}, "EXC_SOFTWARE, Code 7"},
        {6, {1}, "EXC_BREAKPOINT, Code EXC_ARM_BREAKPOINT (1)"},
        {10, {uint64_t(-3)}, "EXC_CRASH, Code -3"},
        {13, {}, "EXC_CORPSE_NOTIFY"},
        {99, {}, "EXC_UNKNOWN_99"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(processor::machExceptionMessage(VXCrashReportMachExceptionInfo(c.type, c.codes)), c.message)
            << c.message;
}

TEST(AnalyticsCrashReportProcessor, OnlyArm64AddressesLoseTheirHighBits)
{
    CrashedRunFixture fixture;
    fixture.cpu.type = 0x100000C;
    fixture.cpu.subtype = 0; // arm64e reports come masked from the decoder already
    fixture.addImage(0x100000000, 0x10000, "/usr/bin/vellox-arm");
    // A signed return address: authentication bits above the address proper.
    fixture.crashedThread->n_frames = 1;
    fixture.crashedThread->frames[0] = fixture.frame(0x0023000100001234);
    const QVariantMap entry = onlyEntry(processor::processReport(*fixture.decoded(), programConfig()));
    const QVariantMap frame = entry.value("stacktrace").toMap().value("frames").toList().value(0).toMap();
    EXPECT_EQ(frame.value("instruction_addr"), "0x0000000100001234");
    // The image is looked up with the address as the report holds it.
    EXPECT_FALSE(frame.contains("image_addr"));
    EXPECT_TRUE(processor::isArm64Report(*fixture.decoded()));
}

TEST(AnalyticsCrashReportProcessor, ImagesWithoutANameOrUuid)
{
    CrashedRunFixture fixture;
    fixture.report.binary_images[1]->name = const_cast<char*>(""); // the program's
    fixture.report.binary_images[1]->code_type = nullptr;
    const QVariantMap properties = processor::processReport(*fixture.decoded(), programConfig());
    const QVariantList images = properties.value("$debug_images").toList();
    ASSERT_EQ(images.size(), 1);
    EXPECT_EQ(images[0].toMap().value("code_file"), "/usr/lib/x86_64-linux-gnu/libc.so.6");
    // The nameless image still gives its frames an address, not a module.
    const QVariantList frames = onlyEntry(properties).value("stacktrace").toMap().value("frames").toList();
    const QVariantMap program = frames.last().toMap();
    EXPECT_EQ(program.value("image_addr"), "0x0000555555554000");
    EXPECT_FALSE(program.contains("module"));
    EXPECT_EQ(program.value("in_app"), false);

}
