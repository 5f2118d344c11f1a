#include "CrashReportFixture.h"
#include "CrashWriterOutputs.h"
#include "crash-reporting/reporter/VXCrashReport.h"
#include "crash-reporting/reporter/VXCrashReportLimits.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>

namespace {

std::shared_ptr<const VXCrashReport> decode(const QByteArray& bytes, VXCrashReporterError* error = nullptr)
{
    return VXCrashReport::fromData(bytes, error);
}

Vxcrash__CrashReport__Thread__StackFrame makeFrame(uint64_t pc)
{
    Vxcrash__CrashReport__Thread__StackFrame frame;
    vxcrash__crash_report__thread__stack_frame__init(&frame);
    frame.pc = pc;
    return frame;
}

} // namespace

TEST(VXCrashReport, MinimalReportDecodes)
{
    CrashReportFixture f;
    VXCrashReporterError error;
    auto report = decode(f.file(), &error);
    ASSERT_TRUE(report) << error.localizedDescription.toStdString();
    EXPECT_EQ(report->systemInfo()->operatingSystemVersion(), "6.1.0");
    EXPECT_EQ(report->systemInfo()->operatingSystem(), 3); // OS_UNKNOWN when absent
    EXPECT_EQ(report->systemInfo()->timestamp(), QDateTime::fromSecsSinceEpoch(1700000000, Qt::UTC));
    EXPECT_EQ(report->systemInfo()->processorInfo()->type(), 0x1000007u);
    EXPECT_EQ(report->systemInfo()->processorInfo()->subtype(), 3u);
    EXPECT_EQ(report->systemInfo()->processorInfo()->typeEncoding(), 1);
    EXPECT_TRUE(report->systemInfo()->operatingSystemBuild().isNull());
    EXPECT_EQ(report->applicationInfo()->applicationIdentifier(), "app.vellox.desktop");
    EXPECT_TRUE(report->applicationInfo()->applicationMarketingVersion().isNull());
    EXPECT_EQ(report->signalInfo()->name(), "SIGSEGV");
    EXPECT_EQ(report->signalInfo()->code(), "SEGV_MAPERR");
    EXPECT_EQ(report->signalInfo()->address(), 0x10u);
    EXPECT_FALSE(report->hasMachineInfo());
    EXPECT_FALSE(report->hasProcessInfo());
    EXPECT_FALSE(report->hasExceptionInfo());
    EXPECT_FALSE(report->machExceptionInfo());
    EXPECT_FALSE(report->uuidRef().has_value());
    EXPECT_TRUE(report->customData().isNull());
    ASSERT_EQ(report->threads().size(), 1);
    EXPECT_TRUE(report->threads()[0]->crashed());
    ASSERT_EQ(report->images().size(), 1);
    EXPECT_EQ(report->images()[0]->imageName(), "/usr/bin/vellox");
    EXPECT_FALSE(report->images()[0]->hasImageUUID());
}

TEST(VXCrashReport, MalformedFilesGiveTheirErrors)
{
    CrashReportFixture base;
    const QByteArray good = base.file();
    struct Case {
        const char* name;
        std::function<QByteArray()> bytes;
        const char* message;
    };
    const Case cases[] = {
        {"empty", [] { return QByteArray(); }, "Could not decode truncated crash log"},
        {"header only", [] { return QByteArray("vxcrash\x01", 8); }, "Could not decode truncated crash log"},
        {"bad magic", [&] { QByteArray b = good; b[0] = 'V'; return b; }, "Could not decode invalid crash log header"},
        {"version 2", [&] { QByteArray b = good; b[7] = 2; return b; },
         "Could not decode unsupported crash report version: 2"},
        {"version 0", [&] { QByteArray b = good; b[7] = 0; return b; },
         "Could not decode unsupported crash report version: 0"},
        {"garbage body", [] { return QByteArray("vxcrash\x01\xff\xff\xff", 11); },
         "Could not decode crash report with size of 3 bytes."},
        {"body missing the signal", [] {
             CrashReportFixture f;
             f.report.signal = nullptr;
             const QByteArray body = f.body();
             return QByteArray("vxcrash\x01", 8) + body;
         }, nullptr},
        {"truncated body", [&] { return good.left(good.size() - 3); }, nullptr},
        {"no threads", [] { CrashReportFixture f; f.report.n_threads = 0; return f.file(); },
         "Crash report is missing thread state information"},
        {"no images", [] { CrashReportFixture f; f.report.n_binary_images = 0; return f.file(); },
         "Crash report is missing binary image information"},
        {"unknown architecture", [] {
             CrashReportFixture f;
             f.system.architecture = VXCRASH__ARCHITECTURE__ARCHITECTURE_UNKNOWN;
             return f.file();
         }, "Crash report has an unknown architecture"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QByteArray bytes = c.bytes();
        VXCrashReporterError error;
        EXPECT_FALSE(decode(bytes, &error));
        EXPECT_EQ(error.code, VXCrashReporterErrorCrashReportInvalid);
        EXPECT_EQ(error.domain, "VXCrashReporterErrorDomain");
        if (c.message) {
            EXPECT_EQ(error.localizedDescription.toStdString(), c.message);
        } else {
            // A body the schema refuses names its own size.
            EXPECT_EQ(error.localizedDescription.toStdString(),
                      "Could not decode crash report with size of " + std::to_string(bytes.size() - 8) + " bytes.");
        }
    }
}

TEST(VXCrashReport, ArchitectureWithoutMachineInfoGivesMachProcessor)
{
    CrashReportFixture f;
    f.system.architecture = VXCRASH__ARCHITECTURE__ARMV7;
    auto report = decode(f.file());
    ASSERT_TRUE(report);
    EXPECT_EQ(report->systemInfo()->processorInfo()->type(), 12u);
    EXPECT_EQ(report->systemInfo()->processorInfo()->subtype(), 9u);
    EXPECT_EQ(report->systemInfo()->processorInfo()->typeEncoding(), 1);
}

TEST(VXCrashReport, Arm64eMachineMasksPointerAuthenticationBitsOfFrames)
{
    for (uint64_t subtype : {2u, 0u}) {
        SCOPED_TRACE(subtype);
        CrashReportFixture f;
        Vxcrash__CrashReport__Processor processor;
        vxcrash__crash_report__processor__init(&processor);
        processor.type = 0x100000C;
        processor.subtype = subtype;
        Vxcrash__CrashReport__MachineInfo machine;
        vxcrash__crash_report__machine_info__init(&machine);
        machine.processor = &processor;
        machine.processor_count = 8;
        machine.logical_processor_count = 8;
        f.report.machine_info = &machine;
        auto frame = makeFrame(0x8F00000123456789ULL);
        Vxcrash__CrashReport__Thread__StackFrame* frames[] = {&frame};
        f.thread.n_frames = 1;
        f.thread.frames = frames;
        Vxcrash__CrashReport__Exception exception;
        vxcrash__crash_report__exception__init(&exception);
        exception.name = const_cast<char*>("NSGenericException");
        exception.reason = const_cast<char*>("boom");
        exception.n_frames = 1;
        exception.frames = frames;
        f.report.exception = &exception;

        auto report = decode(f.file());
        ASSERT_TRUE(report);
        const uint64_t expected = subtype == 2 ? 0x123456789ULL : 0x8F00000123456789ULL;
        EXPECT_EQ(report->threads()[0]->stackFrames()[0]->instructionPointer(), expected);
        EXPECT_EQ((*report->exceptionInfo()->stackFrames())[0]->instructionPointer(), expected);
        // The machine's processor stands for the system's.
        EXPECT_EQ(report->systemInfo()->processorInfo(), report->machineInfo()->processorInfo());
    }
}

TEST(VXCrashReport, OptionalSectionsDecode)
{
    CrashReportFixture f;
    f.system.timestamp = 0;
    Vxcrash__CrashReport__ProcessInfo process;
    vxcrash__crash_report__process_info__init(&process);
    process.process_id = 77;
    process.parent_process_id = 1;
    process.native = 1;
    f.report.process_info = &process;
    uint8_t uuidBytes[16];
    for (int i = 0; i < 16; ++i)
        uuidBytes[i] = uint8_t(i);
    f.image.has_uuid = 1;
    f.image.uuid = {16, uuidBytes};
    Vxcrash__CrashReport__Exception exception;
    vxcrash__crash_report__exception__init(&exception);
    exception.name = const_cast<char*>("E");
    exception.reason = const_cast<char*>("R");
    f.report.exception = &exception;
    Vxcrash__CrashReport__ReportInfo info;
    vxcrash__crash_report__report_info__init(&info);
    info.user_requested = 1;
    f.report.report_info = &info;
    uint8_t custom[] = {1, 2, 3};
    f.report.has_custom_data = 1;
    f.report.custom_data = {3, custom};

    auto report = decode(f.file());
    ASSERT_TRUE(report);
    EXPECT_FALSE(report->systemInfo()->timestamp().has_value());
    ASSERT_TRUE(report->hasProcessInfo());
    EXPECT_EQ(report->processInfo()->processID(), 77u);
    EXPECT_FALSE(report->processInfo()->processStartTime().has_value());
    EXPECT_TRUE(report->processInfo()->processName().isNull());
    EXPECT_TRUE(report->images()[0]->hasImageUUID());
    EXPECT_EQ(report->images()[0]->imageUUID(), "000102030405060708090a0b0c0d0e0f");
    ASSERT_TRUE(report->hasExceptionInfo());
    EXPECT_FALSE(report->exceptionInfo()->stackFrames().has_value());
    EXPECT_FALSE(report->uuidRef().has_value());
    EXPECT_EQ(report->customData(), QByteArray("\x01\x02\x03", 3));
}

TEST(VXCrashReport, ReportUuidMustBeSixteenBytes)
{
    uint8_t bytes[16] = {0x12, 0x34, 0x56, 0x78, 0x9a, 0xbc, 0xde, 0xf0, 1, 2, 3, 4, 5, 6, 7, 8};
    for (size_t length : {size_t(15), size_t(16)}) {
        SCOPED_TRACE(length);
        CrashReportFixture f;
        Vxcrash__CrashReport__ReportInfo info;
        vxcrash__crash_report__report_info__init(&info);
        info.has_uuid = 1;
        info.uuid = {length, bytes};
        f.report.report_info = &info;
        VXCrashReporterError error;
        auto report = decode(f.file(), &error);
        if (length == 15) {
            EXPECT_FALSE(report);
            EXPECT_EQ(error.localizedDescription, "Report UUID value is not a standard 16 bytes");
        } else {
            ASSERT_TRUE(report);
            EXPECT_EQ(report->uuidRef()->toString(QUuid::WithoutBraces), "12345678-9abc-def0-0102-030405060708");
        }
    }
}

TEST(VXCrashReport, MachExceptionCodesAreBounded)
{
    std::vector<uint64_t> codes(256, 7);
    for (size_t count : {size_t(255), size_t(256)}) {
        SCOPED_TRACE(count);
        CrashReportFixture f;
        Vxcrash__CrashReport__Signal__MachException mach;
        vxcrash__crash_report__signal__mach_exception__init(&mach);
        mach.type = 1;
        mach.n_codes = count;
        mach.codes = codes.data();
        f.signal.mach_exception = &mach;
        VXCrashReporterError error;
        auto report = decode(f.file(), &error);
        if (count == 255) {
            ASSERT_TRUE(report);
            EXPECT_EQ(report->machExceptionInfo()->codes().size(), 255);
        } else {
            EXPECT_FALSE(report);
            EXPECT_EQ(error.localizedDescription, "Crash report includes too many Mach Exception codes");
        }
    }
}

TEST(VXCrashReport, ImageForAddressUsesHalfOpenRanges)
{
    CrashReportFixture f;
    Vxcrash__CrashReport__BinaryImage second;
    vxcrash__crash_report__binary_image__init(&second);
    second.base_address = 0x1800; // overlaps the first; stored order decides
    second.size = 0x1000;
    second.name = const_cast<char*>("/usr/lib/libc.so.6");
    Vxcrash__CrashReport__BinaryImage* images[] = {&f.image, &second};
    f.report.n_binary_images = 2;
    f.report.binary_images = images;
    auto report = decode(f.file());
    ASSERT_TRUE(report);
    EXPECT_FALSE(report->imageForAddress(0xFFF));
    EXPECT_EQ(report->imageForAddress(0x1000)->imageName(), "/usr/bin/vellox");
    EXPECT_EQ(report->imageForAddress(0x1FFF)->imageName(), "/usr/bin/vellox");
    EXPECT_EQ(report->imageForAddress(0x2000)->imageName(), "/usr/lib/libc.so.6");
    EXPECT_FALSE(report->imageForAddress(0x2800));
}

TEST(VXCrashReport, EnumNumbersOutsideTheSchemaReadAsUnknown)
{
    // Files found by fuzzing: an architecture number far outside its enum.
    // Built with UndefinedBehaviorSanitizer, loading it as the enum type halts.
    const char* found[] = {
        "dnhjcmFzaAEKFhIFNi4xLjAgARiA4s+qKCoFYnVpbGQSHQoSYXBwLnZlbGxveC5kZXNrdG9wEgI0MhoDMS4wGgQIABgBIgoIgCAQgCAaAi94Mg8KB1NJR0FCUlQSAiMwGAA=",
        "dnhjcmFzaAEKFhIFNi4xLjAgARiA4s+qDioFYnVpbGQSHQoSYXBwLnZlbGxveC5kZXNrdG9wEgI0MhoDMS4wGgQIABgBIgoIgCAQgCAaAi94Mg8KB1NJR0FCUlQSAiMwGAA=",
    };
    for (const char* base64 : found) {
        SCOPED_TRACE(base64);
        VXCrashReporterError error;
        EXPECT_FALSE(decode(QByteArray::fromBase64(base64), &error));
        EXPECT_EQ(error.localizedDescription.toStdString(), "Crash report has an unknown architecture");
    }

    struct Case {
        const char* name;
        int32_t operatingSystem;
        int32_t encoding;
        int32_t architecture;
        int expectedOperatingSystem;
        int expectedEncoding;
        int expectedArchitecture;
    };
    const Case cases[] = {
        {"in range", 4, 1, 4, 4, 1, 4},
        {"just past the end", 5, 2, 7, 3, 0, 6},
        {"negative", -1, -7, -2, 3, 0, 6},
        {"high bit", INT32_MIN, INT32_MIN, INT32_MIN, 3, 0, 6},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CrashReportFixture f;
        Vxcrash__CrashReport__MachineInfo machine;
        vxcrash__crash_report__machine_info__init(&machine);
        Vxcrash__CrashReport__Processor processor;
        vxcrash__crash_report__processor__init(&processor);
        processor.type = 0x1000007;
        processor.subtype = 3;
        processor.has_encoding = 1;
        std::memcpy(&processor.encoding, &c.encoding, sizeof c.encoding);
        machine.processor = &processor;
        f.report.machine_info = &machine;
        f.system.has_operating_system = 1;
        std::memcpy(&f.system.operating_system, &c.operatingSystem, sizeof c.operatingSystem);
        std::memcpy(&f.system.architecture, &c.architecture, sizeof c.architecture);
        VXCrashReporterError error;
        auto report = decode(f.file(), &error);
        ASSERT_TRUE(report) << error.localizedDescription.toStdString();
        EXPECT_EQ(report->systemInfo()->operatingSystem(), c.expectedOperatingSystem);
        EXPECT_EQ(report->machineInfo()->processorInfo()->typeEncoding(), c.expectedEncoding);
        EXPECT_EQ(report->systemInfo()->architecture(), c.expectedArchitecture);
    }
}

TEST(VXCrashReport, WhatTheWriterNeverWritesIsRefusedBeforeUnpacking)
{
    // A valid report (one thread, one image) with a repeated field filled to
    // the writer's limit, then past it; the entries are as small as the
    // format allows, as in a hostile file. Likewise for the bytes of a field,
    // and for fields the format does not know, anywhere in the report.
    CrashReportFixture f;
    const QByteArray valid = f.body();
    const ProtoBytes emptyThread = ProtoBytes().varint(1, 0).varint(3, 0);
    const ProtoBytes frame = ProtoBytes().varint(3, 0);
    const ProtoBytes reg = ProtoBytes().text(1, "r").varint(2, 0);
    const ProtoBytes image = ProtoBytes().varint(1, 0).varint(2, 0).text(3, "i");
    struct Case {
        const char* name;
        uint32_t field;
        std::function<ProtoBytes(size_t)> entries; // `count` entries of the repeated field
        size_t limit;
    };
    const Case cases[] = {
        {"threads", 3, [&](size_t n) {
             ProtoBytes b;
             for (size_t i = 0; i < n; ++i) b.message(3, emptyThread);
             return b;
         }, kVXCrashReportMaxThreads},
        {"frames of a thread", 3, [&](size_t n) {
             ProtoBytes t = emptyThread;
             for (size_t i = 0; i < n; ++i) t.message(2, frame);
             return ProtoBytes().message(3, t);
         }, kVXCrashReportMaxFrames},
        {"registers of a thread", 3, [&](size_t n) {
             ProtoBytes t = emptyThread;
             for (size_t i = 0; i < n; ++i) t.message(4, reg);
             return ProtoBytes().message(3, t);
         }, kVXCrashReportMaxRegisters},
        {"images", 4, [&](size_t n) {
             ProtoBytes b;
             for (size_t i = 0; i < n; ++i) b.message(4, image);
             return b;
         }, kVXCrashReportMaxImages - 1},
        {"exception frames", 5, [&](size_t n) {
             ProtoBytes e = ProtoBytes().text(1, "E").text(2, "R");
             for (size_t i = 0; i < n; ++i) e.message(3, frame);
             return ProtoBytes().message(5, e);
         }, kVXCrashReportMaxFrames},
        {"bytes of custom data", 10, [&](size_t n) {
             return ProtoBytes().text(10, QByteArray(qsizetype(n), 'c'));
         }, kVXCrashReportMaxCustomDataBytes},
        {"unknown fields", 15, [&](size_t n) {
             ProtoBytes b;
             for (size_t i = 0; i < n; ++i) b.varint(15, 0);
             return b;
         }, kVXCrashReportMaxUnknownFields},
        {"unknown fields in frames", 3, [&](size_t n) {
             ProtoBytes t = emptyThread;
             for (size_t i = 0; i < n; ++i) t.message(2, ProtoBytes(frame).varint(9, 0));
             return ProtoBytes().message(3, t);
         }, kVXCrashReportMaxUnknownFields},
        {"bytes of an unknown field", 15, [&](size_t n) {
             // A key byte and a 3-byte length before the value: n bytes in all.
             return ProtoBytes().text(15, QByteArray(qsizetype(n - 4), 'u'));
         }, kVXCrashReportMaxUnknownBytes},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QByteArray atLimit = QByteArray("vxcrash\x01", 8) + valid + c.entries(c.limit).bytes;
        VXCrashReporterError error;
        EXPECT_TRUE(decode(atLimit, &error)) << error.localizedDescription.toStdString();
        const QByteArray over = QByteArray("vxcrash\x01", 8) + valid + c.entries(c.limit + 1).bytes;
        EXPECT_FALSE(decode(over, &error));
        EXPECT_EQ(error.localizedDescription.toStdString(), "Crash report of " + std::to_string(over.size() - 8)
                                                                + " bytes holds more than the crash reporter writes.");
    }
}

TEST(VXCrashReport, EveryFieldWrittenOnceIsRefusedWhenRepeated)
{
    // Every field the format holds once, scalars too, in every message the
    // report can nest: repeated, it stops the report before unpacking. Once,
    // it gets past that walk; the report may then fail for what it lacks.
    const std::string refusal = "holds more than the crash reporter writes.";
    const auto occurrence = [](const ProtobufCFieldDescriptor& field) {
        switch (field.type) {
        case PROTOBUF_C_TYPE_STRING:
        case PROTOBUF_C_TYPE_BYTES:
        case PROTOBUF_C_TYPE_MESSAGE:
            return ProtoBytes().text(field.id, QByteArray());
        default:
            return ProtoBytes().varint(field.id, 0);
        }
    };
    const auto refused = [&](const ProtoBytes& body) {
        VXCrashReporterError error;
        const bool decoded = bool(decode(QByteArray("vxcrash\x01", 8) + body.bytes, &error));
        const std::string message = error.localizedDescription.toStdString();
        return !decoded && message.size() >= refusal.size()
               && message.compare(message.size() - refusal.size(), refusal.size(), refusal) == 0;
    };
    // `enclose` puts a message's body where the report holds that message.
    std::function<void(const ProtobufCMessageDescriptor&, const std::string&,
                       const std::function<ProtoBytes(const ProtoBytes&)>&)>
        visit = [&](const ProtobufCMessageDescriptor& message, const std::string& path,
                    const std::function<ProtoBytes(const ProtoBytes&)>& enclose) {
            for (unsigned i = 0; i < message.n_fields; ++i) {
                const ProtobufCFieldDescriptor& field = message.fields[i];
                const std::string fieldPath = path + "." + field.name;
                if (field.label != PROTOBUF_C_LABEL_REPEATED) {
                    SCOPED_TRACE(fieldPath);
                    const ProtoBytes once = occurrence(field);
                    ProtoBytes twice = once;
                    twice.bytes += once.bytes;
                    EXPECT_FALSE(refused(enclose(once)));
                    EXPECT_TRUE(refused(enclose(twice)));
                }
                if (field.type == PROTOBUF_C_TYPE_MESSAGE) {
                    visit(*static_cast<const ProtobufCMessageDescriptor*>(field.descriptor), fieldPath,
                          [&enclose, id = field.id](const ProtoBytes& body) {
                              return enclose(ProtoBytes().message(id, body));
                          });
                }
            }
        };
    visit(vxcrash__crash_report__descriptor, "CrashReport", [](const ProtoBytes& body) { return body; });
}
