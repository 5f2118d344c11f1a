#include "SyntheticMachO.h"
#include "crash-reporting/reporter/VXCrashAsyncImageList.h"

#include <gtest/gtest.h>

#include <QProcess>
#include <QRegularExpression>

#include <dlfcn.h>
#include <sys/mman.h>
#include <unistd.h>

#include <string>

namespace {

std::string hex(const uint8_t* bytes, size_t n)
{
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        s += digits[bytes[i] >> 4];
        s += digits[bytes[i] & 0xF];
    }
    return s;
}

// The build-id readelf reports for the file at `path`.
std::string readelfBuildId(const std::string& path)
{
    QProcess readelf;
    readelf.start(QStringLiteral("readelf"), {QStringLiteral("-n"), QString::fromStdString(path)});
    if (!readelf.waitForFinished(30000))
        return {};
    const QString out = QString::fromUtf8(readelf.readAllStandardOutput());
    const auto match = QRegularExpression(QStringLiteral("Build ID: ([0-9a-f]+)")).match(out);
    return match.hasMatch() ? match.captured(1).toStdString() : std::string();
}

struct ImageList {
    ImageList(vxcrash_task_t task = vxcrash_async_task_self()) { vxcrash_nasync_image_list_init(&list, task); }
    ~ImageList() { vxcrash_nasync_image_list_free(&list); }
    vxcrash_async_image_list list;
};

} // namespace

TEST(VXCrashImageList, RunningProcessHoldsExecutableAndLibcWithTheirBuildIds)
{
    ImageList images;
    vxcrash_nasync_image_list_add_loaded_images(&images.list);
    // A second pass adds nothing it already holds.
    vxcrash_nasync_image_list_add_loaded_images(&images.list);

    char exe[4096] = {};
    ASSERT_GT(readlink("/proc/self/exe", exe, sizeof exe - 1), 0);
    Dl_info libcInfo;
    ASSERT_NE(dladdr(reinterpret_cast<void*>(&getpid), &libcInfo), 0);

    vxcrash_async_image_list_set_reading(&images.list, true);
    const vxcrash_async_image* executable = nullptr;
    const vxcrash_async_image* libc = nullptr;
    int count = 0;
    int exeCount = 0;
    for (vxcrash_async_image* image = nullptr; (image = vxcrash_async_image_list_next(&images.list, image));) {
        ++count;
        if (std::string(vxcrash_async_image_name(image)) == exe) {
            executable = image;
            ++exeCount;
        }
        if (vxcrash_async_image_header_addr(image) == uint64_t(uintptr_t(libcInfo.dli_fbase)))
            libc = image;
    }
    vxcrash_async_image_list_set_reading(&images.list, false);
    EXPECT_GT(count, 2);
    EXPECT_EQ(exeCount, 1);
    ASSERT_TRUE(executable);
    ASSERT_TRUE(libc);
    EXPECT_NE(std::string(vxcrash_async_image_name(libc)).find("libc.so"), std::string::npos);

    for (const auto* image : {executable, libc}) {
        SCOPED_TRACE(vxcrash_async_image_name(image));
        uint8_t id[32];
        const size_t n = vxcrash_async_image_uuid(image, id, sizeof id);
        EXPECT_EQ(n, 20u);
        const std::string expected = readelfBuildId(vxcrash_async_image_name(image));
        ASSERT_FALSE(expected.empty()) << "readelf found no build-id";
        EXPECT_EQ(hex(id, n), expected);
        EXPECT_EQ(vxcrash_async_image_cpu_type(image), 0x1000007);
        EXPECT_NE(image->elf.eh_frame_addr, 0u);
        EXPECT_NE(image->elf.dynsym_count, 0u);
    }

    // Addresses of code land in the image that holds it.
    vxcrash_async_image_list_set_reading(&images.list, true);
    EXPECT_EQ(vxcrash_async_image_containing_address(&images.list, uint64_t(uintptr_t(&getpid))), libc);
    EXPECT_EQ(vxcrash_async_image_containing_address(&images.list, uint64_t(uintptr_t(&readelfBuildId))), executable);
    EXPECT_EQ(vxcrash_async_image_containing_address(&images.list, 0x10), nullptr);
    vxcrash_async_image_list_set_reading(&images.list, false);

    const uint64_t libcHeader = vxcrash_async_image_header_addr(libc);
    vxcrash_nasync_image_list_remove(&images.list, libcHeader);
    vxcrash_nasync_image_list_remove(&images.list, 0x1234); // unknown: nothing happens
    vxcrash_async_image_list_set_reading(&images.list, true);
    EXPECT_EQ(vxcrash_async_image_containing_address(&images.list, uint64_t(uintptr_t(&getpid))), nullptr);
    vxcrash_async_image_list_set_reading(&images.list, false);
}

TEST(VXCrashImageList, ImagesThatDoNotParseAreDropped)
{
    const uint8_t junk[64] = {0xCA, 0xFE, 0xBA, 0xBE};
    const vxcrash_task_region region = {0x10000, junk, sizeof junk};
    const vxcrash_task task = {0, &region, 1};
    ImageList images(&task);
    vxcrash_nasync_image_list_append(&images.list, 0x10000, "universal");
    vxcrash_nasync_image_list_append(&images.list, 0x90000, "unmapped");
    EXPECT_EQ(vxcrash_async_image_list_next(&images.list, nullptr), nullptr);
}

namespace {

struct MachOImage {
    explicit MachOImage(SyntheticMachO& image) : region(image.region()), task{0, &region, 1} { }
    vxcrash_error_t init(SyntheticMachO& image)
    {
        return vxcrash_nasync_macho_init(&macho, &task, "/usr/lib/libsynthetic.dylib", image.loadAddress());
    }
    vxcrash_task_region region;
    vxcrash_task task;
    vxcrash_async_macho macho{};
};

} // namespace

TEST(VXCrashMachO, ReadsHeaderSegmentsAndSectionsOfEitherWidthAndByteOrder)
{
    struct Case {
        const char* name;
        bool m64;
        bool big;
    };
    for (const Case& c : {Case{"64-bit", true, false}, Case{"32-bit", false, false}, Case{"64-bit swapped", true, true},
                          Case{"32-bit swapped", false, true}}) {
        SCOPED_TRACE(c.name);
        const uint64_t vmaddr = c.m64 ? 0x100000000 : 0x1000;
        const uint64_t load = c.m64 ? 0x7f0000000000 : 0x40000000;
        SyntheticMachO image(vmaddr, load, c.m64, c.big);
        const uint64_t text = image.addSection("__TEXT", "__text", 0x40);
        image.put32(text, 0xDEADBEEF);
        image.addSection("__DATA", "__data", 0x10);
        const uint8_t uuid[16] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
        image.setUuid(uuid);
        image.build();
        MachOImage m(image);
        ASSERT_EQ(m.init(image), VXCRASH_STATUS_OK);
        EXPECT_EQ(m.macho.m64, c.m64);
        EXPECT_EQ(vxcrash_async_macho_header_size(&m.macho), c.m64 ? 32u : 28u);
        EXPECT_EQ(m.macho.text_vmaddr, vmaddr);
        EXPECT_EQ(m.macho.vmaddr_slide, int64_t(load - vmaddr));
        EXPECT_EQ(vxcrash_async_macho_cpu_type(&m.macho), 0x100000C);
        EXPECT_TRUE(vxcrash_async_macho_contains_address(&m.macho, text));
        EXPECT_FALSE(vxcrash_async_macho_contains_address(&m.macho, image.loadAddress() + m.macho.text_size));

        vxcrash_async_mobject section;
        ASSERT_EQ(vxcrash_async_macho_map_section(&m.macho, "__TEXT", "__text", &section), VXCRASH_STATUS_OK);
        uint32_t word;
        ASSERT_EQ(vxcrash_async_mobject_read_uint32(&section, m.macho.byteorder, text, 0, &word), VXCRASH_STATUS_OK);
        EXPECT_EQ(word, 0xDEADBEEFu);
        EXPECT_EQ(vxcrash_async_mobject_length(&section), 0x40u);
        vxcrash_async_mobject_free(&section);
        EXPECT_EQ(vxcrash_async_macho_map_section(&m.macho, "__TEXT", "__nothing", &section), VXCRASH_STATUS_NOT_FOUND);
        EXPECT_EQ(vxcrash_async_macho_map_section(&m.macho, "__NOPE", "__text", &section), VXCRASH_STATUS_NOT_FOUND);

        uint8_t read[16];
        ASSERT_TRUE(vxcrash_async_macho_uuid(&m.macho, read));
        EXPECT_EQ(std::memcmp(read, uuid, 16), 0);
        vxcrash_nasync_macho_free(&m.macho);
    }
}

TEST(VXCrashMachO, RefusesWhatIsNotAnImage)
{
    struct Case {
        const char* name;
        void (*prepare)(SyntheticMachO&);
        vxcrash_error_t expected;
    };
    const Case cases[] = {
        {"universal header", [](SyntheticMachO& i) { i.setMagic(0xBEBAFECA); }, VXCRASH_STATUS_INVALID_ARGUMENT},
        {"no __TEXT", [](SyntheticMachO& i) { i.omitTextSegment(); }, VXCRASH_STATUS_INVALID_ARGUMENT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SyntheticMachO image(0x1000, 0x1000);
        image.addSection("__DATA", "__data", 0x10);
        c.prepare(image);
        image.build();
        MachOImage m(image);
        EXPECT_EQ(m.init(image), c.expected);
    }
}

TEST(VXCrashMachO, HeaderAtTextVmaddrHasNoSlide)
{
    SyntheticMachO image(0x4000, 0x4000);
    image.build();
    MachOImage m(image);
    ASSERT_EQ(m.init(image), VXCRASH_STATUS_OK);
    EXPECT_EQ(m.macho.vmaddr_slide, 0);
    vxcrash_nasync_macho_free(&m.macho);
}

TEST(VXCrashMachO, CommandSizeBelowEightEndsIteration)
{
    SyntheticMachO image(0x1000, 0x1000);
    image.addSection("__DATA", "__data", 0x10);
    const uint8_t uuid[16] = {1};
    image.setUuid(uuid);
    image.build();
    image.setCommandSize(1, 4); // the __DATA segment command, before LC_UUID
    MachOImage m(image);
    ASSERT_EQ(m.init(image), VXCRASH_STATUS_OK);
    int commands = 0;
    for (void* cmd = nullptr; (cmd = vxcrash_async_macho_next_command(&m.macho, cmd));)
        ++commands;
    EXPECT_EQ(commands, 2);
    uint8_t read[16];
    EXPECT_FALSE(vxcrash_async_macho_uuid(&m.macho, read));
    vxcrash_nasync_macho_free(&m.macho);
}

TEST(VXCrashMachO, SymbolTableLookupPrefersGlobalsOnTiesAndAppliesTheSlide)
{
    SyntheticMachO image(0x100000000, 0x200000000);
    image.addSection("__TEXT", "__text", 0x100);
    const uint64_t base = 0x100001000;
    image.setSymbols({{"_local_start", base}, {"_local_mid", base + 0x40}, {"_debug", base + 0x80, 0x24},
                      {"_thumb", base + 0x90, 0x0E, 0x0008}},
                     {{"_global_mid", base + 0x40}, {"_undefined", base + 0x60, 0x01}});
    image.build();
    MachOImage m(image);
    ASSERT_EQ(m.init(image), VXCRASH_STATUS_OK);
    const uint64_t slide = image.slide();

    struct Found {
        uint64_t address = 0;
        std::string name;
    };
    auto lookup = [&](uint64_t pc, Found* found) {
        return vxcrash_async_macho_find_symbol_by_pc(
            &m.macho, pc + slide,
            [](uint64_t address, const char* name, void* ctx) {
                auto* f = static_cast<Found*>(ctx);
                f->address = address;
                f->name = name;
            },
            found);
    };
    struct Case {
        uint64_t pc;
        const char* name;
        uint64_t start;
    };
    const Case cases[] = {
        {base, "_local_start", base},
        {base + 0x3F, "_local_start", base},
        {base + 0x40, "_global_mid", base + 0x40},
        {base + 0x88, "_global_mid", base + 0x40}, // stabs and undefined symbols do not count
        {base + 0x95, "_thumb", base + 0x91},      // Thumb definitions carry bit 0
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Found found;
        ASSERT_EQ(lookup(c.pc, &found), VXCRASH_STATUS_OK);
        EXPECT_EQ(found.name, c.name);
        EXPECT_EQ(found.address, c.start + slide);
    }
    Found none;
    EXPECT_EQ(lookup(base - 1, &none), VXCRASH_STATUS_NOT_FOUND);

    uint64_t address = 0;
    ASSERT_EQ(vxcrash_async_macho_find_symbol_by_name(&m.macho, "_global_mid", &address), VXCRASH_STATUS_OK);
    EXPECT_EQ(address, base + 0x40 + slide);
    EXPECT_EQ(vxcrash_async_macho_find_symbol_by_name(&m.macho, "global_mid", &address), VXCRASH_STATUS_NOT_FOUND);
    EXPECT_EQ(vxcrash_async_macho_find_symbol_by_name(&m.macho, "_debug", &address), VXCRASH_STATUS_NOT_FOUND);
    vxcrash_nasync_macho_free(&m.macho);
}

TEST(VXCrashMachO, TaskStringsGrowAcrossPagesAndStopAtUnmappedMemory)
{
    const size_t page = vxcrash_async_page_size();
    auto* pages = static_cast<char*>(mmap(nullptr, 3 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(pages, MAP_FAILED);
    mprotect(pages + 2 * page, page, PROT_NONE);
    std::memset(pages, 'x', 2 * page);
    pages[page + 10] = '\0';

    vxcrash_async_macho image{};
    image.task = vxcrash_async_task_self();
    vxcrash_async_macho_string string;
    vxcrash_async_macho_string_init(&string, &image, uint64_t(uintptr_t(pages + page - 20)));
    size_t length = 0;
    ASSERT_EQ(vxcrash_async_macho_string_get_length(&string, &length), VXCRASH_STATUS_OK);
    EXPECT_EQ(length, 30u);
    const char* p = nullptr;
    ASSERT_EQ(vxcrash_async_macho_string_get_pointer(&string, &p), VXCRASH_STATUS_OK);
    EXPECT_EQ(std::string(p), std::string(30, 'x'));
    vxcrash_async_macho_string_free(&string);

    pages[page + 10] = 'x'; // now the string runs into the unmapped third page
    vxcrash_async_macho_string_init(&string, &image, uint64_t(uintptr_t(pages + page - 20)));
    EXPECT_EQ(vxcrash_async_macho_string_get_length(&string, &length), VXCRASH_STATUS_INVALID_ARGUMENT);
    vxcrash_async_macho_string_free(&string);
    munmap(pages, 3 * page);
}
