#include "CrashWriterOutputs.h"
#include "FakeCrashWriterTarget.h"
#include "SyntheticMachO.h"
#include "crash-reporting/reporter/VXCrashInfoMessage.h"
#include "crash-reporting/reporter/VXCrashLogWriter.h"
#include "crash-reporting/reporter/VXCrashProcessTarget.h"
#include "crash-reporting/reporter/VXCrashReport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <string>

namespace {

constexpr uint64_t kVmaddr = 0x100000000;
constexpr uint64_t kLoad = 0x7f2000000000;
constexpr pid_t kCrashedTid = 7;
constexpr const char* kPath = "/Applications/Vellox.app/Contents/MacOS/Vellox";

int64_t fixedClock()
{
    return 1700000000;
}

// A Mach-O image in a fake task: code with two symbols, a "__crash_info"
// section in __DATA and the texts it points to.
struct CrashInfoImage {
    // `version` and which of the two text pointers are set.
    CrashInfoImage(uint32_t version, bool firstText, bool secondText) : image(kVmaddr, kLoad)
    {
        text = image.addSection("__TEXT", "__text", 0x100);
        const uint64_t strings = image.addSection("__TEXT", "__cstring", 0x40);
        const uint64_t info = image.addSection("__DATA", "__crash_info", 0x40);
        image.setSymbols({}, {{"_crash_here", text - image.slide() + 0x20}, {"_caller", text - image.slide() + 0x80}});
        const uint8_t uuid[16] = {0xA0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 0xAF};
        image.setUuid(uuid);
        image.build();
        image.putString(strings, "first message");
        image.putString(strings + 0x20, "second message");
        image.put32(info, version);
        image.put64(info + 8, firstText ? strings : 0);
        image.put64(info + 32, secondText ? strings + 0x20 : 0);

        region = image.region();
        task = {0, &region, 1};
        vxcrash_nasync_image_list_init(&list, &task);
        vxcrash_nasync_image_list_append(&list, kLoad, kPath);
    }
    ~CrashInfoImage() { vxcrash_nasync_image_list_free(&list); }

    SyntheticMachO image;
    uint64_t text = 0;
    vxcrash_task_region region;
    vxcrash_task task;
    vxcrash_async_image_list list;
};

// Fixed threads over the images, symbols and crash-info of a real image list.
class ImageListTarget : public FakeCrashWriterTarget {
public:
    explicit ImageListTarget(vxcrash_async_image_list* list) : images_(list) { }
    void imagesBeginRead() override { images_.imagesBeginRead(); }
    void imagesEndRead() override { images_.imagesEndRead(); }
    const void* nextImage(const void* current, vxcrash_writer_image* info) override
    {
        return images_.nextImage(current, info);
    }
    const void* imageContaining(uint64_t address) override { return images_.imageContaining(address); }
    bool crashInfoMessage(const void* image, char* buffer, size_t capacity) override
    {
        return images_.crashInfoMessage(image, buffer, capacity);
    }
    int prepareSymbols() override { return images_.prepareSymbols(); }
    void releaseSymbols() override { images_.releaseSymbols(); }
    bool findSymbol(const void* image, uint64_t pc, uint32_t strategy, char* name, size_t capacity,
                    uint64_t* start) override
    {
        return images_.findSymbol(image, pc, strategy, name, capacity, start);
    }

private:
    VXCrashProcessTarget images_;
};

vxcrash_writer_facts macFacts()
{
    vxcrash_writer_facts facts;
    facts.has_process = true;
    facts.pid = 501;
    facts.process_name = "Vellox";
    facts.process_path = kPath;
    facts.start_time = 1699990000;
    facts.parent_pid = 1;
    facts.parent_name = "launchd";
    facts.cpu_type = 0x100000C;
    facts.cpu_subtype = 2;
    facts.processor_count = 8;
    facts.logical_processor_count = 8;
    facts.os_version = "14.1";
    facts.os_build = "23B74";
    for (uint8_t i = 0; i < 16; ++i)
        facts.uuid[i] = uint8_t(0xF0 | i);
    return facts;
}

ProtoBytes processor(uint64_t type, uint64_t subtype)
{
    return ProtoBytes().varint(1, 1).varint(2, type).varint(3, subtype);
}

} // namespace

TEST(VXCrashLogWriterMachO, WritesTheReportOfASyntheticImageByteForByte)
{
    CrashInfoImage fixture(5, false, true);
    vxcrash_log_writer writer;
    ASSERT_EQ(vxcrash_log_writer_init_with_facts(&writer, macFacts(), "app.vellox.desktop", "42", "1.0",
                                                 VXCRASH_ASYNC_SYMBOL_STRATEGY_SYMBOL_TABLE, false),
              VXCRASH_WRITER_OK);
    writer.clock = fixedClock;
    vxcrash_log_writer_set_custom_data(&writer, "{\"k\":1}", 7);

    ImageListTarget target(&fixture.list);
    target.self = kCrashedTid;
    const uint64_t crashPc = fixture.text + 0x24;
    const uint64_t returnPc = fixture.text + 0x90;
    target.threads = {{kCrashedTid, {crashPc, returnPc}, {{"pc", crashPc}, {"fp", 0x16f000000}}}};
    // The fault lies in the image, so its crash-info is looked up first.
    const vxcrash_log_bsd_signal_info bus{SIGBUS, BUS_ADRERR, fixture.text + 0x30};
    const vxcrash_log_signal_info info{&bus, nullptr};

    MemoryWriterOutput out;
    ASSERT_EQ(vxcrash_log_writer_write(&writer, target, kCrashedTid, &out, &info, &target.threads[0]),
              VXCRASH_WRITER_OK);
    vxcrash_log_writer_free(&writer);

    const uint64_t imageSize = fixture.list.list->head()->value->macho.text_size;
    ProtoBytes expected;
    expected.message(9, ProtoBytes().varint(1, 0).text(2, QByteArray::fromHex("f0f1f2f3f4f5f6f7f8f9fafbfcfdfeff")))
        .message(1, ProtoBytes().varint(1, 0).text(2, "14.1").text(5, "23B74").varint(3, 6).varint(4, 1700000000))
        .message(8, ProtoBytes().message(2, processor(0x100000C, 2)).varint(3, 8).varint(4, 8))
        .message(2, ProtoBytes().text(1, "app.vellox.desktop").text(2, "42").text(3, "1.0"))
        .message(7, ProtoBytes()
                        .text(1, "Vellox")
                        .varint(2, 501)
                        .text(3, kPath)
                        .text(4, "launchd")
                        .varint(5, 1)
                        .varint(6, 1)
                        .varint(7, 1699990000))
        .message(3, ProtoBytes()
                        .varint(1, 0)
                        .varint(3, 1)
                        .message(4, ProtoBytes().text(1, "pc").varint(2, crashPc))
                        .message(4, ProtoBytes().text(1, "fp").varint(2, 0x16f000000))
                        .message(2, ProtoBytes().varint(3, crashPc).message(
                                        6, ProtoBytes().text(1, "_crash_here").varint(2, fixture.text + 0x20)))
                        .message(2, ProtoBytes().varint(3, returnPc).message(
                                        6, ProtoBytes().text(1, "_caller").varint(2, fixture.text + 0x80))))
        .message(4, ProtoBytes()
                        .varint(2, imageSize)
                        .varint(1, kLoad)
                        .text(3, kPath)
                        .text(4, QByteArray::fromHex("a00102030405060708090a0b0c0d0eaf"))
                        .message(5, processor(0x100000C, 0)))
        .message(6, ProtoBytes()
                        .text(1, "SIGBUS")
                        .text(2, "BUS_ADRERR")
                        .varint(3, fixture.text + 0x30)
                        .text(5, "second message"))
        .text(10, "{\"k\":1}");

    EXPECT_EQ(out.bytes.left(8), QByteArray("vxcrash\x01", 8));
    EXPECT_EQ(out.bytes.mid(8).toHex(), expected.bytes.toHex());

    VXCrashReporterError error;
    auto report = VXCrashReport::fromData(out.bytes, &error);
    ASSERT_TRUE(report) << error.localizedDescription.toStdString();
    EXPECT_EQ(report->images()[0]->imageUUID(), "a00102030405060708090a0b0c0d0eaf");
    EXPECT_EQ(report->signalInfo()->crashInfoMessage(), "second message");
}

TEST(VXCrashLogWriterMachO, CrashInfoSectionNeedsAKnownVersionAndAText)
{
    struct Case {
        const char* name;
        uint32_t version;
        bool firstText;
        bool secondText;
        const char* expected; // null: no message
    };
    const Case cases[] = {
        {"version 4, first text", 4, true, true, "first message"},
        {"version 5, only the second text", 5, false, true, "second message"},
        {"version 3 is not read", 3, true, true, nullptr},
        {"no text at all", 5, false, false, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CrashInfoImage fixture(c.version, c.firstText, c.secondText);
        const vxcrash_async_image* image = vxcrash_async_image_list_next(&fixture.list, nullptr);
        ASSERT_NE(image, nullptr);
        char buffer[kVXCrashInfoMessageMax + 1] = {};
        const bool found = vxcrash_async_image_crash_info_message(image, buffer, sizeof buffer);
        EXPECT_EQ(found, c.expected != nullptr);
        if (c.expected) {
            EXPECT_STREQ(buffer, c.expected);
        }
    }
}
