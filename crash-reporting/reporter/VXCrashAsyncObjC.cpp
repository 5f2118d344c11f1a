#include "crash-reporting/reporter/VXCrashAsyncObjC.h"

#include <sys/mman.h>

#include <initializer_list>

namespace {

constexpr size_t kClassTableSlots = 1024;
constexpr size_t kClassTableBytes = kClassTableSlots * 2 * sizeof(uint64_t); // 16 KiB

constexpr uint64_t kClassDataMask64 = 0x7FFFFFFFFFF8ULL;
constexpr uint64_t kTaggedIsaMask64 = 0xFFFFFFFF8ULL;
constexpr uint32_t kRwRealized = 1u << 31;
constexpr uint32_t kRwCopiedRo = 1u << 27;
constexpr uint32_t kMethodListRelative = 1u << 31;
constexpr uint32_t kMethodListEntsizeMask = 0xFFFC;
constexpr uint32_t kObjc1InfoSingleMethodList = 0x4000;
constexpr uint32_t kObjc1MethodListEnd = 0xFFFFFFFF;
constexpr uint32_t kMaxListEntries = 1u << 20;

struct Context {
    vxcrash_async_macho* image;
    vxcrash_async_objc_cache* cache;
    bool m64;
    size_t word;
    const vxcrash_async_byteorder* bo;
};

uint64_t loadWord(const Context& c, const void* p)
{
    if (c.m64) {
        uint64_t v;
        __builtin_memcpy(&v, p, 8);
        return c.bo->swap64(v);
    }
    uint32_t v;
    __builtin_memcpy(&v, p, 4);
    return c.bo->swap32(v);
}

uint32_t load32(const Context& c, const void* p)
{
    uint32_t v;
    __builtin_memcpy(&v, p, 4);
    return c.bo->swap32(v);
}

// `length` bytes at `address` from a mapped section, or null.
const uint8_t* inSection(const vxcrash_async_objc_section& s, uint64_t address, size_t length)
{
    if (!s.mapped)
        return nullptr;
    return static_cast<const uint8_t*>(vxcrash_async_mobject_remap_address(&s.mobj, address, 0, length));
}

void releaseSection(vxcrash_async_objc_section* s)
{
    if (s->mapped)
        vxcrash_async_mobject_free(&s->mobj);
    s->mapped = false;
}

void releaseSections(vxcrash_async_objc_cache* cache)
{
    for (auto* s : {&cache->const_section, &cache->const_ax_section, &cache->methlist_section,
                    &cache->selrefs_section, &cache->classlist_section, &cache->catlist_section,
                    &cache->objc_data_section, &cache->data_section})
        releaseSection(s);
    cache->mapped_image = nullptr;
}

vxcrash_error_t mapSection(vxcrash_async_macho* image, const char* segment, const char* section,
                           vxcrash_async_objc_section* out)
{
    const vxcrash_error_t err = vxcrash_async_macho_map_section(image, segment, section, &out->mobj);
    out->mapped = err == VXCRASH_STATUS_OK;
    return err;
}

// Data sections move between these segments across toolchains.
vxcrash_error_t mapDataSection(vxcrash_async_macho* image, const char* section, vxcrash_async_objc_section* out)
{
    vxcrash_error_t err = VXCRASH_STATUS_NOT_FOUND;
    for (const char* segment : {"__DATA", "__DATA_CONST", "__DATA_DIRTY"}) {
        err = mapSection(image, segment, section, out);
        if (err != VXCRASH_STATUS_NOT_FOUND)
            return err;
    }
    return err;
}

vxcrash_error_t mapSections(vxcrash_async_macho* image, vxcrash_async_objc_cache* cache)
{
    if (cache->mapped_image == image)
        return VXCRASH_STATUS_OK;
    releaseSections(cache);
    vxcrash_error_t err = mapDataSection(image, "__objc_const", &cache->const_section);
    if (err != VXCRASH_STATUS_OK)
        return err;
    mapSection(image, "__DATA", "__objc_const_ax", &cache->const_ax_section);
    mapSection(image, "__TEXT", "__objc_methlist", &cache->methlist_section);
    mapSection(image, "__DATA", "__objc_selrefs", &cache->selrefs_section);
    if ((err = mapDataSection(image, "__objc_classlist", &cache->classlist_section)) != VXCRASH_STATUS_OK)
        return err;
    // An image without categories has no category list; that is no failure.
    err = mapDataSection(image, "__objc_catlist", &cache->catlist_section);
    if (err != VXCRASH_STATUS_OK && err != VXCRASH_STATUS_NOT_FOUND)
        return err;
    if ((err = mapDataSection(image, "__objc_data", &cache->objc_data_section)) != VXCRASH_STATUS_OK)
        return err;
    mapSection(image, "__DATA", "__data", &cache->data_section);
    cache->mapped_image = image;
    return VXCRASH_STATUS_OK;
}

uint64_t cacheGet(const vxcrash_async_objc_cache* cache, uint64_t key)
{
    if (cache->class_table_size == 0)
        return 0;
    const size_t index = size_t((key / 4) % cache->class_table_size);
    return cache->class_table_keys[index] == key ? cache->class_table_values[index] : 0;
}

void cacheSet(vxcrash_async_objc_cache* cache, uint64_t key, uint64_t value)
{
    if (!cache->class_table_keys) {
        void* table = mmap(nullptr, kClassTableBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (table == MAP_FAILED) {
            cache->class_table_size = 0;
            return;
        }
        cache->class_table_keys = static_cast<uint64_t*>(table);
        cache->class_table_values = cache->class_table_keys + kClassTableSlots;
        cache->class_table_size = kClassTableSlots;
    }
    if (cache->class_table_size == 0)
        return;
    const size_t index = size_t((key / 4) % cache->class_table_size);
    // The first class to claim a slot keeps it.
    if (cache->class_table_keys[index] != 0)
        return;
    cache->class_table_keys[index] = key;
    cache->class_table_values[index] = value;
}

// Reads `length` bytes at `address` through `section` when it lies there,
// else by a task copy.
vxcrash_error_t readFrom(const Context& c, const vxcrash_async_objc_section& section, uint64_t address, void* out,
                         size_t length)
{
    if (const uint8_t* p = inSection(section, address, length)) {
        vxcrash_async_memcpy(out, p, length);
        return VXCRASH_STATUS_OK;
    }
    return vxcrash_async_task_memcpy(c.image->task, address, 0, out, length);
}

// A class record (isa, superclass, cache, vtable, data) from the image's data.
vxcrash_error_t readClass(const Context& c, uint64_t address, uint8_t out[40])
{
    const size_t length = 5 * c.word;
    const uint8_t* p = inSection(c.cache->objc_data_section, address, length);
    if (!p)
        p = inSection(c.cache->data_section, address, length);
    if (!p)
        return VXCRASH_STATUS_INVALID_DATA;
    vxcrash_async_memcpy(out, p, length);
    return VXCRASH_STATUS_OK;
}

struct ClassInfo {
    uint64_t name;
    uint64_t baseMethods;
};

vxcrash_error_t readClassInfo(const Context& c, const uint8_t* cls, ClassInfo* info)
{
    const size_t roLength = c.m64 ? 72 : 40;
    uint64_t data = loadWord(c, cls + 4 * c.word);
    data &= c.m64 ? kClassDataMask64 : ~uint64_t(7);

    uint64_t ro = cacheGet(c.cache, data);
    uint8_t roBytes[72];
    if (ro) {
        if (readFrom(c, c.cache->const_section, ro, roBytes, roLength) != VXCRASH_STATUS_OK)
            return VXCRASH_STATUS_INVALID_DATA;
    } else {
        uint8_t rw[16];
        const size_t rwLength = c.m64 ? 16 : 12;
        if (readFrom(c, c.cache->const_section, data, rw, rwLength) != VXCRASH_STATUS_OK)
            return VXCRASH_STATUS_INVALID_DATA;
        const uint32_t flags = load32(c, rw);
        if (flags & kRwRealized) {
            ro = loadWord(c, rw + 8); // after flags and version
            if (ro & 1) {
                uint8_t word[8];
                if (vxcrash_async_task_memcpy(c.image->task, ro & ~uint64_t(1), 0, word, c.word) != VXCRASH_STATUS_OK)
                    return VXCRASH_STATUS_INVALID_DATA;
                ro = loadWord(c, word);
            }
        } else {
            ro = data;
        }
        vxcrash_error_t err;
        if (!(flags & kRwCopiedRo) && vxcrash_async_macho_contains_address(c.image, ro)) {
            const uint8_t* p = inSection(c.cache->const_section, ro, roLength);
            err = p ? VXCRASH_STATUS_OK : VXCRASH_STATUS_INVALID_DATA;
            if (p)
                vxcrash_async_memcpy(roBytes, p, roLength);
        } else {
            err = vxcrash_async_task_memcpy(c.image->task, ro, 0, roBytes, roLength) == VXCRASH_STATUS_OK
                      ? VXCRASH_STATUS_OK
                      : VXCRASH_STATUS_INVALID_DATA;
        }
        if (err != VXCRASH_STATUS_OK)
            return err;
        cacheSet(c.cache, data, ro);
    }
    // flags, instanceStart, instanceSize (+ reserved on 64-bit), then pointers:
    // ivarLayout, name, baseMethods, ...
    const size_t pointers = c.m64 ? 16 : 12;
    info->name = loadWord(c, roBytes + pointers + c.word);
    info->baseMethods = loadWord(c, roBytes + pointers + 2 * c.word);
    return VXCRASH_STATUS_OK;
}

vxcrash_error_t parseMethodList(const Context& c, bool isMeta, vxcrash_async_macho_string* className, uint64_t list,
                                vxcrash_async_objc_found_method_cb callback, void* ctx)
{
    const vxcrash_async_objc_section* section = nullptr;
    for (const auto* s : {&c.cache->const_section, &c.cache->const_ax_section, &c.cache->methlist_section}) {
        if (inSection(*s, list, 8)) {
            section = s;
            break;
        }
    }
    if (!section)
        return VXCRASH_STATUS_INVALID_DATA;
    const uint8_t* header = inSection(*section, list, 8);
    const uint32_t entsizeAndFlags = load32(c, header);
    const uint32_t count = load32(c, header + 4);
    const uint32_t entsize = entsizeAndFlags & kMethodListEntsizeMask;
    const bool relative = c.m64 && (entsizeAndFlags & kMethodListRelative);
    const size_t needed = relative ? 12 : 3 * c.word;
    if (count > kMaxListEntries || entsize < needed || !inSection(*section, list + 8, size_t(count) * entsize))
        return VXCRASH_STATUS_INVALID_DATA;

    for (uint32_t i = 0; i < count; ++i) {
        const uint64_t entry = list + 8 + uint64_t(i) * entsize;
        const uint8_t* e = inSection(*section, entry, entsize);
        uint64_t selector;
        uint64_t imp;
        if (relative) {
            selector = entry + uint64_t(int64_t(int32_t(load32(c, e))));
            imp = entry + 8 + uint64_t(int64_t(int32_t(load32(c, e + 8))));
        } else {
            selector = loadWord(c, e);
            imp = loadWord(c, e + 2 * c.word);
        }
        if (const uint8_t* ref = inSection(c.cache->selrefs_section, selector, c.word))
            selector = loadWord(c, ref);

        vxcrash_async_macho_string name;
        vxcrash_async_macho_string_init(&name, c.image, selector);
        size_t length;
        const vxcrash_error_t err = vxcrash_async_macho_string_get_length(&name, &length);
        if (err != VXCRASH_STATUS_OK) {
            vxcrash_async_macho_string_free(&name);
            return err;
        }
        callback(isMeta, className, &name, imp, ctx);
        vxcrash_async_macho_string_free(&name);
    }
    return VXCRASH_STATUS_OK;
}

vxcrash_error_t parseClass(const Context& c, const uint8_t* cls, bool isMeta,
                           vxcrash_async_objc_found_method_cb callback, void* ctx)
{
    ClassInfo info;
    vxcrash_error_t err = readClassInfo(c, cls, &info);
    if (err != VXCRASH_STATUS_OK)
        return err;
    vxcrash_async_macho_string className;
    vxcrash_async_macho_string_init(&className, c.image, info.name);
    size_t length;
    if (vxcrash_async_macho_string_get_length(&className, &length) != VXCRASH_STATUS_OK) {
        vxcrash_async_macho_string_free(&className);
        return VXCRASH_STATUS_INVALID_DATA;
    }
    if (info.baseMethods)
        err = parseMethodList(c, isMeta, &className, info.baseMethods, callback, ctx);
    vxcrash_async_macho_string_free(&className);
    return err;
}

vxcrash_error_t parseLegacy(const Context& c, vxcrash_async_objc_found_method_cb callback, void* ctx)
{
    vxcrash_async_mobject modules;
    vxcrash_error_t err = vxcrash_async_macho_map_section(c.image, "__OBJC", "__module_info", &modules);
    if (err != VXCRASH_STATUS_OK)
        return err;
    vxcrash_task_t task = c.image->task;
    const auto* bo = c.bo;
    auto read32 = [&](uint64_t address, uint32_t* out) {
        return vxcrash_async_task_read_uint32(task, bo, address, 0, out);
    };
    // Reports the methods of one legacy class (or metaclass) record.
    auto reportClass = [&](uint64_t cls, bool isMeta) -> vxcrash_error_t {
        uint32_t fields[10]; // isa, super_class, name, version, info, instance_size, ivars, methodLists, cache, protocols
        if (vxcrash_async_task_memcpy(task, cls, 0, fields, sizeof fields) != VXCRASH_STATUS_OK)
            return VXCRASH_STATUS_INVALID_DATA;
        for (uint32_t& f : fields)
            f = bo->swap32(f);
        vxcrash_async_macho_string className;
        vxcrash_async_macho_string_init(&className, c.image, fields[2]);
        vxcrash_error_t result = VXCRASH_STATUS_OK;
        auto reportList = [&](uint32_t list) -> vxcrash_error_t {
            uint32_t count;
            if (read32(list + 4, &count) != VXCRASH_STATUS_OK || count > kMaxListEntries)
                return VXCRASH_STATUS_INVALID_DATA;
            for (uint32_t i = 0; i < count; ++i) {
                uint32_t method[3];
                if (vxcrash_async_task_memcpy(task, list + 8 + uint64_t(i) * 12, 0, method, 12) != VXCRASH_STATUS_OK)
                    return VXCRASH_STATUS_INVALID_DATA;
                vxcrash_async_macho_string name;
                vxcrash_async_macho_string_init(&name, c.image, bo->swap32(method[0]));
                size_t length;
                const vxcrash_error_t e = vxcrash_async_macho_string_get_length(&name, &length);
                if (e == VXCRASH_STATUS_OK)
                    callback(isMeta, &className, &name, bo->swap32(method[2]), ctx);
                vxcrash_async_macho_string_free(&name);
                if (e != VXCRASH_STATUS_OK)
                    return e;
            }
            return VXCRASH_STATUS_OK;
        };
        const uint32_t methodLists = fields[7];
        if (fields[4] & kObjc1InfoSingleMethodList) {
            if (methodLists)
                result = reportList(methodLists);
        } else if (methodLists) {
            for (uint32_t i = 0; i < kMaxListEntries && result == VXCRASH_STATUS_OK; ++i) {
                uint32_t list;
                if (read32(methodLists + uint64_t(i) * 4, &list) != VXCRASH_STATUS_OK) {
                    result = VXCRASH_STATUS_INVALID_DATA;
                    break;
                }
                if (list == 0 || list == kObjc1MethodListEnd)
                    break;
                result = reportList(list);
            }
        }
        vxcrash_async_macho_string_free(&className);
        return result;
    };

    const uint64_t start = vxcrash_async_mobject_base_address(&modules);
    const uint64_t length = vxcrash_async_mobject_length(&modules);
    for (uint64_t at = 0; at + 16 <= length && err == VXCRASH_STATUS_OK; at += 16) {
        uint32_t symtab;
        if ((err = vxcrash_async_mobject_read_uint32(&modules, bo, start, int64_t(at + 12), &symtab)) !=
            VXCRASH_STATUS_OK)
            break;
        if (symtab == 0)
            continue;
        uint16_t classCount;
        if ((err = vxcrash_async_task_read_uint16(task, bo, symtab, 8, &classCount)) != VXCRASH_STATUS_OK)
            break;
        for (uint16_t i = 0; i < classCount && err == VXCRASH_STATUS_OK; ++i) {
            uint32_t cls;
            if ((err = read32(symtab + 12 + uint64_t(i) * 4, &cls)) != VXCRASH_STATUS_OK)
                break;
            if ((err = reportClass(cls, false)) != VXCRASH_STATUS_OK)
                break;
            uint32_t isa;
            if ((err = read32(cls, &isa)) != VXCRASH_STATUS_OK)
                break;
            if (isa & 1)
                isa &= ~uint32_t(7);
            err = reportClass(isa, true);
        }
    }
    vxcrash_async_mobject_free(&modules);
    return err;
}

} // namespace

vxcrash_error_t vxcrash_async_objc_cache_init(vxcrash_async_objc_cache* cache)
{
    vxcrash_async_memset(cache, 0, sizeof *cache);
    return VXCRASH_STATUS_OK;
}

void vxcrash_async_objc_cache_free(vxcrash_async_objc_cache* cache)
{
    releaseSections(cache);
    if (cache->class_table_keys)
        munmap(cache->class_table_keys, kClassTableBytes);
    cache->class_table_keys = nullptr;
    cache->class_table_values = nullptr;
    cache->class_table_size = 0;
}

vxcrash_error_t vxcrash_async_objc_parse(vxcrash_async_macho* image, vxcrash_async_objc_cache* cache,
                                         vxcrash_async_objc_found_method_cb callback, void* ctx)
{
    if (!cache)
        return VXCRASH_STATUS_ACCESS_DENIED;
    const Context c = {image, cache, image->m64, size_t(image->m64 ? 8 : 4), image->byteorder};
    if (!cache->modern_format_seen) {
        const vxcrash_error_t legacy = parseLegacy(c, callback, ctx);
        if (legacy != VXCRASH_STATUS_NOT_FOUND)
            return legacy;
    }
    vxcrash_error_t err = mapSections(image, cache);
    if (err != VXCRASH_STATUS_OK)
        return err;

    const vxcrash_async_mobject& classes = cache->classlist_section.mobj;
    const uint64_t classCount = classes.length / c.word;
    for (uint64_t i = 0; i < classCount; ++i) {
        const auto* p = static_cast<const uint8_t*>(
            vxcrash_async_mobject_remap_address(&classes, classes.task_address, int64_t(i * c.word), c.word));
        if (!p)
            return VXCRASH_STATUS_INVALID_DATA;
        uint8_t cls[40];
        if ((err = readClass(c, loadWord(c, p), cls)) != VXCRASH_STATUS_OK)
            return err;
        err = parseClass(c, cls, false, callback, ctx);
        if (err == VXCRASH_STATUS_NOT_FOUND)
            continue;
        if (err != VXCRASH_STATUS_OK)
            return err;
        uint64_t isa = loadWord(c, cls);
        if (isa & 1)
            isa &= c.m64 ? kTaggedIsaMask64 : ~uint64_t(7);
        uint8_t meta[40];
        if ((err = readClass(c, isa, meta)) != VXCRASH_STATUS_OK)
            return err;
        if ((err = parseClass(c, meta, true, callback, ctx)) != VXCRASH_STATUS_OK)
            return err;
    }

    if (cache->catlist_section.mapped) {
        const vxcrash_async_mobject& categories = cache->catlist_section.mobj;
        const uint64_t categoryCount = categories.length / c.word;
        for (uint64_t i = 0; i < categoryCount; ++i) {
            const auto* p = static_cast<const uint8_t*>(vxcrash_async_mobject_remap_address(
                &categories, categories.task_address, int64_t(i * c.word), c.word));
            if (!p)
                return VXCRASH_STATUS_INVALID_DATA;
            // name, cls, instanceMethods, classMethods, protocols, instanceProperties
            const uint8_t* category = inSection(cache->const_section, loadWord(c, p), 6 * c.word);
            if (!category)
                return VXCRASH_STATUS_INVALID_DATA;
            uint8_t cls[40];
            const uint64_t clsAddress = loadWord(c, category + c.word);
            if (readClass(c, clsAddress, cls) != VXCRASH_STATUS_OK &&
                vxcrash_async_task_memcpy(image->task, clsAddress, 0, cls, 5 * c.word) != VXCRASH_STATUS_OK)
                return VXCRASH_STATUS_INVALID_DATA;
            ClassInfo info;
            err = readClassInfo(c, cls, &info);
            if (err == VXCRASH_STATUS_OK) {
                vxcrash_async_macho_string className;
                vxcrash_async_macho_string_init(&className, image, info.name);
                size_t length;
                if (vxcrash_async_macho_string_get_length(&className, &length) != VXCRASH_STATUS_OK)
                    err = VXCRASH_STATUS_INVALID_DATA;
                const uint64_t instanceMethods = loadWord(c, category + 2 * c.word);
                const uint64_t classMethods = loadWord(c, category + 3 * c.word);
                if (err == VXCRASH_STATUS_OK && instanceMethods)
                    err = parseMethodList(c, false, &className, instanceMethods, callback, ctx);
                if (err == VXCRASH_STATUS_OK && classMethods)
                    err = parseMethodList(c, true, &className, classMethods, callback, ctx);
                vxcrash_async_macho_string_free(&className);
            }
            if (err != VXCRASH_STATUS_OK && err != VXCRASH_STATUS_NOT_FOUND)
                return err;
        }
    }
    cache->modern_format_seen = true;
    return VXCRASH_STATUS_OK;
}

namespace {

struct SearchState {
    uint64_t pc;
    uint64_t best;
    bool found;
    bool called;
    vxcrash_async_objc_found_method_cb callback;
    void* ctx;
};

void searchCallback(bool, vxcrash_async_macho_string*, vxcrash_async_macho_string*, uint64_t imp, void* ctx)
{
    auto* s = static_cast<SearchState*>(ctx);
    if (imp <= s->pc && (!s->found || imp > s->best)) {
        s->best = imp;
        s->found = true;
    }
}

void callCallback(bool isMeta, vxcrash_async_macho_string* className, vxcrash_async_macho_string* methodName,
                  uint64_t imp, void* ctx)
{
    auto* s = static_cast<SearchState*>(ctx);
    if (s->called || imp != s->best)
        return;
    s->called = true;
    s->callback(isMeta, className, methodName, imp, s->ctx);
}

} // namespace

vxcrash_error_t vxcrash_async_objc_find_method(vxcrash_async_macho* image, vxcrash_async_objc_cache* cache,
                                               uint64_t pc, vxcrash_async_objc_found_method_cb callback, void* ctx)
{
    SearchState state = {pc, 0, false, false, callback, ctx};
    vxcrash_error_t err = vxcrash_async_objc_parse(image, cache, searchCallback, &state);
    if (err != VXCRASH_STATUS_OK)
        return err;
    if (!state.found)
        return VXCRASH_STATUS_NOT_FOUND;
    return vxcrash_async_objc_parse(image, cache, callCallback, &state);
}
