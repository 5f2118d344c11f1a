#include "SyntheticMachO.h"
#include "crash-reporting/reporter/VXCrashAsyncSymbols.h"
#include "crash-reporting/reporter/VXCrashAsyncThreadState.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>

namespace {

constexpr uint64_t kVmaddr = 0x100000000;
constexpr uint64_t kLoad = 0x7f1000000000;
constexpr uint64_t kHeap = 0x600000000000;

// A 64-bit image with Objective-C metadata: Widget (plain method lists, a class
// method and a category), Gadget (realised, its read-write data on the "heap",
// with a relative method list resolved through selector references), and a
// class whose name is 300 characters long. The symbol table names only two
// functions, one of them at the same address as a category method.
class ObjCImage {
public:
    explicit ObjCImage(bool withClassList = true) : image(kVmaddr, kLoad)
    {
        text = image.addSection("__TEXT", "__text", 0x200);
        const uint64_t names = image.addSection("__TEXT", "__objc_methname", 0x400);
        const uint64_t methlist = image.addSection("__TEXT", "__objc_methlist", 0x40);
        const uint64_t objcConst = image.addSection("__DATA", "__objc_const", 0x400);
        const uint64_t selrefs = image.addSection("__DATA", "__objc_selrefs", 0x10);
        const uint64_t classlist = withClassList ? image.addSection("__DATA", "__objc_classlist", 0x18) : 0;
        const uint64_t catlist = image.addSection("__DATA", "__objc_catlist", 0x8);
        const uint64_t data = image.addSection("__DATA", "__objc_data", 0x200);
        image.setSymbols({{"_same_as_extra", text - image.slide() + 0xE0}},
                         {{"_helper", text - image.slide() + 0x100}});
        image.build();

        uint64_t nextName = names;
        auto name = [&](const std::string& s) {
            const uint64_t at = nextName;
            image.putString(at, s);
            nextName += s.size() + 1;
            return at;
        };
        uint64_t nextConst = objcConst;
        auto constSpace = [&](size_t size) {
            const uint64_t at = nextConst;
            nextConst += (size + 7) & ~size_t(7);
            return at;
        };
        auto methodList = [&](std::vector<std::pair<std::string, uint64_t>> methods) {
            const uint64_t list = constSpace(8 + methods.size() * 24);
            image.put32(list, 24);
            image.put32(list + 4, uint32_t(methods.size()));
            for (size_t i = 0; i < methods.size(); ++i) {
                image.put64(list + 8 + i * 24, name(methods[i].first));
                image.put64(list + 8 + i * 24 + 16, text + methods[i].second);
            }
            return list;
        };
        auto ro = [&](const std::string& className, uint64_t methods) {
            const uint64_t at = constSpace(72);
            image.put32(at, 0);
            image.put64(at + 24, name(className));
            image.put64(at + 32, methods);
            return at;
        };
        uint64_t nextData = data;
        auto classRecord = [&](uint64_t isa, uint64_t dataPointer) {
            const uint64_t at = nextData;
            nextData += 40;
            image.put64(at, isa);
            image.put64(at + 32, dataPointer);
            return at;
        };

        // Widget and its metaclass; the data pointers carry flag bits in the low bits.
        const uint64_t widgetMeta = classRecord(0, ro("Widget", methodList({{"create", 0x80}})) | 1);
        const uint64_t widget =
            classRecord(widgetMeta, ro("Widget", methodList({{"draw", 0x10}, {"resize:", 0x40}})) | 2);

        // Gadget: realised, read-write data outside the image pointing at its
        // read-only data; methods in a relative list.
        const uint64_t spinSel = name("spin");
        image.put64(selrefs, spinSel);
        image.put32(methlist, 0x8000000C); // relative, entsize 12
        image.put32(methlist + 4, 1);
        const uint64_t entry = methlist + 8;
        image.put32(entry, uint32_t(int32_t(selrefs - entry)));
        image.put32(entry + 8, uint32_t(int32_t((text + 0xC0) - (entry + 8))));
        const uint64_t gadgetRo = ro("Gadget", methlist);
        heap.assign(16, 0);
        const uint32_t realized = 0x80000000;
        std::memcpy(heap.data(), &realized, 4);
        std::memcpy(heap.data() + 8, &gadgetRo, 8);
        const uint64_t gadgetMeta = classRecord(0, ro("Gadget", 0));
        const uint64_t gadget = classRecord(gadgetMeta, kHeap);

        const uint64_t longMeta = classRecord(0, ro(std::string(300, 'L'), 0));
        const uint64_t longClass = classRecord(longMeta, ro(std::string(300, 'L'), methodList({{"m", 0x180}})));

        if (withClassList) {
            image.put64(classlist, widget);
            image.put64(classlist + 8, gadget);
            image.put64(classlist + 16, longClass);
        }
        // A category on Widget adding -extra.
        const uint64_t category = constSpace(48);
        image.put64(category, name("Extras"));
        image.put64(category + 8, widget);
        image.put64(category + 16, methodList({{"extra", 0xE0}}));
        image.put64(catlist, category);

        regions[0] = image.region();
        regions[1] = {kHeap, heap.data(), heap.size()};
        task = {0, regions, 2};
        vxcrash_nasync_image_list_init(&list, &task);
        vxcrash_nasync_image_list_append(&list, kLoad, "/Library/Synthetic.dylib");
        loaded = vxcrash_async_image_list_next(&list, nullptr);
        vxcrash_async_symbol_cache_init(&cache);
    }
    ~ObjCImage()
    {
        vxcrash_async_symbol_cache_free(&cache);
        vxcrash_nasync_image_list_free(&list);
    }

    struct Found {
        vxcrash_error_t status;
        std::string name;
        uint64_t address;
    };
    Found lookup(uint64_t offset, uint32_t strategy)
    {
        Found found{VXCRASH_STATUS_OK, {}, 0};
        int calls = 0;
        struct Sink {
            Found* found;
            int* calls;
        } sink{&found, &calls};
        found.status = vxcrash_async_find_symbol(
            loaded, strategy, &cache, text + offset,
            [](uint64_t address, const char* name, void* ctx) {
                auto* s = static_cast<Sink*>(ctx);
                s->found->address = address;
                s->found->name = name;
                ++*s->calls;
            },
            &sink);
        EXPECT_EQ(calls, found.status == VXCRASH_STATUS_OK ? 1 : 0);
        return found;
    }

    SyntheticMachO image;
    std::vector<uint8_t> heap;
    vxcrash_task_region regions[2];
    vxcrash_task task;
    vxcrash_async_image_list list;
    vxcrash_async_image* loaded = nullptr;
    vxcrash_async_symbol_cache cache;
    uint64_t text = 0;
};

} // namespace

TEST(VXCrashSymbols, ObjectiveCMetadataAndSymbolTableNameFunctions)
{
    ObjCImage fixture;
    ASSERT_NE(fixture.loaded, nullptr);
    const uint32_t all = VXCRASH_ASYNC_SYMBOL_STRATEGY_ALL;
    const uint32_t table = VXCRASH_ASYNC_SYMBOL_STRATEGY_SYMBOL_TABLE;
    const uint32_t objc = VXCRASH_ASYNC_SYMBOL_STRATEGY_OBJC;
    struct Case {
        const char* what;
        uint64_t offset;
        uint32_t strategy;
        vxcrash_error_t status;
        std::string name;
        uint64_t start;
    };
    const Case cases[] = {
        {"instance method", 0x14, all, VXCRASH_STATUS_OK, "-[Widget draw]", 0x10},
        {"second method of the list", 0x40, objc, VXCRASH_STATUS_OK, "-[Widget resize:]", 0x40},
        {"class method", 0x84, all, VXCRASH_STATUS_OK, "+[Widget create]", 0x80},
        {"relative list of a realised class", 0xC4, all, VXCRASH_STATUS_OK, "-[Gadget spin]", 0xC0},
        {"category method wins a tie with the symbol table", 0xE4, all, VXCRASH_STATUS_OK, "-[Widget extra]", 0xE0},
        {"symbol table alone", 0xE4, table, VXCRASH_STATUS_OK, "_same_as_extra", 0xE0},
        {"a later symbol beats an earlier method", 0x104, all, VXCRASH_STATUS_OK, "_helper", 0x100},
        {"method without a symbol, table only", 0x14, table, VXCRASH_STATUS_NOT_FOUND, "", 0},
        {"no strategy", 0x14, VXCRASH_ASYNC_SYMBOL_STRATEGY_NONE, VXCRASH_STATUS_NOT_FOUND, "", 0},
        {"overlong class name", 0x184, objc, VXCRASH_STATUS_OK, "-[" + std::string(253, 'L'), 0x180},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto found = fixture.lookup(c.offset, c.strategy);
        EXPECT_EQ(found.status, c.status);
        if (c.status == VXCRASH_STATUS_OK) {
            EXPECT_EQ(found.name, c.name);
            EXPECT_EQ(found.address, fixture.text + c.start);
        }
    }
    // The same question twice gives the same answer (the writer sizes, then writes).
    EXPECT_EQ(fixture.lookup(0x44, all).name, fixture.lookup(0x44, all).name);
}

TEST(VXCrashSymbols, ParseReportsEveryMethodOfClassesAndCategories)
{
    ObjCImage fixture;
    std::set<std::string> seen;
    const vxcrash_error_t err = vxcrash_async_objc_parse(
        &fixture.loaded->macho, &fixture.cache,
        [](bool isClassMethod, vxcrash_async_macho_string* cls, vxcrash_async_macho_string* method, uint64_t,
           void* ctx) {
            const char* c;
            const char* m;
            ASSERT_EQ(vxcrash_async_macho_string_get_pointer(cls, &c), VXCRASH_STATUS_OK);
            ASSERT_EQ(vxcrash_async_macho_string_get_pointer(method, &m), VXCRASH_STATUS_OK);
            std::string name = c;
            if (name.size() > 10)
                name = "Long";
            static_cast<std::set<std::string>*>(ctx)->insert((isClassMethod ? "+" : "-") + name + " " + m);
        },
        &seen);
    ASSERT_EQ(err, VXCRASH_STATUS_OK);
    EXPECT_EQ(seen, (std::set<std::string>{"-Widget draw", "-Widget resize:", "+Widget create", "-Gadget spin",
                                           "-Long m", "-Widget extra"}));
    // The realised class's read-only data went into the class table.
    EXPECT_EQ(fixture.cache.class_table_size, 1024u);
}

TEST(VXCrashSymbols, ImageWithoutClassListStillHasItsSymbolTable)
{
    ObjCImage fixture(false);
    EXPECT_EQ(fixture.lookup(0x104, VXCRASH_ASYNC_SYMBOL_STRATEGY_ALL).name, "_helper");
    EXPECT_EQ(fixture.lookup(0x14, VXCRASH_ASYNC_SYMBOL_STRATEGY_OBJC).status, VXCRASH_STATUS_NOT_FOUND);
    EXPECT_EQ(vxcrash_async_objc_find_method(&fixture.loaded->macho, &fixture.cache, fixture.text + 0x14, nullptr,
                                             nullptr),
              VXCRASH_STATUS_NOT_FOUND);
}

TEST(VXCrashSymbols, LegacyObjectiveCMetadataNamesMethods)
{
    // A 32-bit image with the old runtime's module list: one class whose
    // instance methods are a single list and whose metaclass has an array of
    // lists ended by 0xFFFFFFFF.
    SyntheticMachO image(0x1000, 0x1000, false);
    image.setCpu(VXCRASH_CPU_TYPE_X86, 3);
    const uint64_t text = image.addSection("__TEXT", "__text", 0x100);
    const uint64_t strings = image.addSection("__TEXT", "__cstring", 0x40);
    const uint64_t modules = image.addSection("__OBJC", "__module_info", 16);
    const uint64_t data = image.addSection("__OBJC", "__data", 0x100);
    image.build();

    uint64_t nextString = strings;
    auto str = [&](const char* s) {
        const uint64_t at = nextString;
        image.putString(at, s);
        nextString += std::strlen(s) + 1;
        return uint32_t(at);
    };
    const uint64_t symtab = data;
    const uint64_t cls = data + 0x10;
    const uint64_t meta = data + 0x40;
    const uint64_t list1 = data + 0x70;
    const uint64_t list2 = data + 0x98;
    const uint64_t lists = data + 0xB0;
    image.put32(modules, 7);
    image.put32(modules + 4, 16);
    image.put32(modules + 12, uint32_t(symtab));
    image.put32(symtab + 8, 1); // cls_def_cnt 1, cat_def_cnt 0
    image.put32(symtab + 12, uint32_t(cls));
    const uint32_t name = str("Legacy");
    auto classRecord = [&](uint64_t at, uint32_t isa, uint32_t info, uint32_t methodLists) {
        image.put32(at, isa);
        image.put32(at + 8, name);
        image.put32(at + 16, info);
        image.put32(at + 28, methodLists);
    };
    classRecord(cls, uint32_t(meta), 0x4000, uint32_t(list1));
    classRecord(meta, 0, 0, uint32_t(lists));
    auto methodList = [&](uint64_t at, std::vector<std::pair<const char*, uint64_t>> methods) {
        image.put32(at + 4, uint32_t(methods.size()));
        for (size_t i = 0; i < methods.size(); ++i) {
            image.put32(at + 8 + 12 * i, str(methods[i].first));
            image.put32(at + 8 + 12 * i + 8, uint32_t(text + methods[i].second));
        }
    };
    methodList(list1, {{"run", 0x10}, {"stop", 0x30}});
    methodList(list2, {{"shared", 0x50}});
    image.put32(lists, uint32_t(list2));
    image.put32(lists + 4, 0xFFFFFFFF);

    const vxcrash_task_region region = image.region();
    const vxcrash_task task = {0, &region, 1};
    vxcrash_async_image_list list;
    vxcrash_nasync_image_list_init(&list, &task);
    vxcrash_nasync_image_list_append(&list, image.loadAddress(), "/usr/lib/liblegacy.dylib");
    vxcrash_async_image* loaded = vxcrash_async_image_list_next(&list, nullptr);
    ASSERT_NE(loaded, nullptr);
    vxcrash_async_symbol_cache cache;
    vxcrash_async_symbol_cache_init(&cache);
    struct Case {
        uint64_t offset;
        const char* name;
    };
    for (const Case& c : {Case{0x34, "-[Legacy stop]"}, Case{0x10, "-[Legacy run]"}, Case{0x60, "+[Legacy shared]"}}) {
        SCOPED_TRACE(c.name);
        std::string found;
        ASSERT_EQ(vxcrash_async_find_symbol(
                      loaded, VXCRASH_ASYNC_SYMBOL_STRATEGY_OBJC, &cache, text + c.offset,
                      [](uint64_t, const char* n, void* ctx) { *static_cast<std::string*>(ctx) = n; }, &found),
                  VXCRASH_STATUS_OK);
        EXPECT_EQ(found, c.name);
    }
    EXPECT_FALSE(cache.modern_format_seen);
    vxcrash_async_symbol_cache_free(&cache);
    vxcrash_nasync_image_list_free(&list);
}
