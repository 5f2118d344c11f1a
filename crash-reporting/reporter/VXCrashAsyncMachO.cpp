#include "crash-reporting/reporter/VXCrashAsyncMachO.h"

#include <cstdlib>
#include <cstring>

namespace {

constexpr size_t kSegmentCommand64Size = 72;
constexpr size_t kSegmentCommand32Size = 56;
constexpr size_t kSection64Size = 80;
constexpr size_t kSection32Size = 68;
constexpr size_t kSymtabCommandSize = 24;
constexpr size_t kDysymtabCommandSize = 80;
constexpr size_t kNlist64Size = 16;
constexpr size_t kNlist32Size = 12;
constexpr uint16_t kArmThumbDefinition = 0x0008;
// No stab bits and the type N_SECT; private-external and external are ignored.
constexpr uint8_t kSymbolTypeMask = 0xEE;
constexpr uint8_t kSymbolTypeSection = 0x0E;

uint32_t load32(const vxcrash_async_macho* image, const void* p)
{
    uint32_t v;
    __builtin_memcpy(&v, p, 4);
    return image->byteorder->swap32(v);
}

uint64_t load64(const vxcrash_async_macho* image, const void* p)
{
    uint64_t v;
    __builtin_memcpy(&v, p, 8);
    return image->byteorder->swap64(v);
}

uint64_t loadWord(const vxcrash_async_macho* image, const void* p)
{
    return image->m64 ? load64(image, p) : load32(image, p);
}

bool commandFits(const vxcrash_async_macho* image, const void* cmd, size_t length)
{
    return vxcrash_async_mobject_verify_local_pointer(&image->load_cmds, reinterpret_cast<uintptr_t>(cmd), 0, length);
}

} // namespace

vxcrash_error_t vxcrash_nasync_macho_init(vxcrash_async_macho* image, vxcrash_task_t task, const char* path,
                                          uint64_t header)
{
    vxcrash_async_memset(image, 0, sizeof *image);
    image->task = task;
    image->header_addr = header;
    image->name = strdup(path ? path : "");

    auto fail = [image](vxcrash_error_t err) {
        free(image->name);
        image->name = nullptr;
        return err;
    };

    if (vxcrash_async_task_memcpy(task, header, 0, &image->header, 28) != VXCRASH_STATUS_OK)
        return fail(VXCRASH_STATUS_INTERNAL);
    switch (image->header.magic) {
    case VXCRASH_MH_MAGIC: image->m64 = false; image->byteorder = vxcrash_async_byteorder_little_endian(); break;
    case VXCRASH_MH_CIGAM: image->m64 = false; image->byteorder = vxcrash_async_byteorder_big_endian(); break;
    case VXCRASH_MH_MAGIC_64: image->m64 = true; image->byteorder = vxcrash_async_byteorder_little_endian(); break;
    case VXCRASH_MH_CIGAM_64: image->m64 = true; image->byteorder = vxcrash_async_byteorder_big_endian(); break;
    default: return fail(VXCRASH_STATUS_INVALID_ARGUMENT);
    }
    image->header_size = image->m64 ? 32 : 28;
    image->ncmds = image->byteorder->swap32(image->header.ncmds);
    const uint32_t sizeofcmds = image->byteorder->swap32(image->header.sizeofcmds);
    vxcrash_error_t err =
        vxcrash_async_mobject_init(&image->load_cmds, task, header + image->header_size, sizeofcmds, true);
    if (err != VXCRASH_STATUS_OK)
        return fail(err);

    const uint32_t segmentCmd = image->m64 ? VXCRASH_LC_SEGMENT_64 : VXCRASH_LC_SEGMENT;
    const size_t segmentSize = image->m64 ? kSegmentCommand64Size : kSegmentCommand32Size;
    for (void* cmd = nullptr; (cmd = vxcrash_async_macho_next_command_type(image, cmd, segmentCmd)) != nullptr;) {
        if (!commandFits(image, cmd, segmentSize))
            break;
        const char* segname = static_cast<const char*>(cmd) + 8;
        if (vxcrash_async_strncmp(segname, "__TEXT", 16) != 0)
            continue;
        const auto* fields = static_cast<const uint8_t*>(cmd) + 24;
        image->text_vmaddr = loadWord(image, fields);
        image->text_size = loadWord(image, fields + (image->m64 ? 8 : 4));
        image->vmaddr_slide = int64_t(header - image->text_vmaddr);
        return VXCRASH_STATUS_OK;
    }
    vxcrash_async_mobject_free(&image->load_cmds);
    return fail(VXCRASH_STATUS_INVALID_ARGUMENT);
}

void vxcrash_nasync_macho_free(vxcrash_async_macho* image)
{
    vxcrash_async_mobject_free(&image->load_cmds);
    free(image->name);
    image->name = nullptr;
}

const vxcrash_async_byteorder* vxcrash_async_macho_byteorder(const vxcrash_async_macho* image)
{
    return image->byteorder;
}
const vxcrash_macho_header* vxcrash_async_macho_header(const vxcrash_async_macho* image)
{
    return &image->header;
}
uint32_t vxcrash_async_macho_header_size(const vxcrash_async_macho* image) { return image->header_size; }
int32_t vxcrash_async_macho_cpu_type(const vxcrash_async_macho* image)
{
    return int32_t(image->byteorder->swap32(uint32_t(image->header.cputype)));
}
int32_t vxcrash_async_macho_cpu_subtype(const vxcrash_async_macho* image)
{
    return int32_t(image->byteorder->swap32(uint32_t(image->header.cpusubtype)));
}

bool vxcrash_async_macho_contains_address(const vxcrash_async_macho* image, uint64_t address)
{
    return address >= image->header_addr && address - image->header_addr < image->text_size;
}

void* vxcrash_async_macho_next_command(const vxcrash_async_macho* image, void* previous)
{
    const vxcrash_async_mobject* cmds = &image->load_cmds;
    if (!previous) {
        if (cmds->length < 8)
            return nullptr;
        return vxcrash_async_mobject_remap_address(cmds, image->header_addr + image->header_size, 0, 8);
    }
    const uint32_t cmdsize = load32(image, static_cast<uint8_t*>(previous) + 4);
    if (cmdsize < 8)
        return nullptr;
    uint64_t next;
    if (!vxcrash_async_address_apply_offset(reinterpret_cast<uintptr_t>(previous), cmdsize, &next))
        return nullptr;
    if (next >= uint64_t(cmds->address) + cmds->length)
        return nullptr;
    if (!vxcrash_async_mobject_verify_local_pointer(cmds, uintptr_t(next), 0, 8))
        return nullptr;
    const uint32_t nextSize = load32(image, reinterpret_cast<uint8_t*>(uintptr_t(next)) + 4);
    if (!vxcrash_async_mobject_verify_local_pointer(cmds, uintptr_t(next), 0, nextSize))
        return nullptr;
    return reinterpret_cast<void*>(uintptr_t(next));
}

void* vxcrash_async_macho_next_command_type(const vxcrash_async_macho* image, void* previous, uint32_t type)
{
    for (void* cmd = vxcrash_async_macho_next_command(image, previous); cmd;
         cmd = vxcrash_async_macho_next_command(image, cmd)) {
        if (load32(image, cmd) == type)
            return cmd;
    }
    return nullptr;
}

void* vxcrash_async_macho_find_command(const vxcrash_async_macho* image, uint32_t type)
{
    for (void* cmd = vxcrash_async_macho_next_command(image, nullptr); cmd;
         cmd = vxcrash_async_macho_next_command(image, cmd)) {
        if (!commandFits(image, cmd, 8))
            return nullptr;
        if (load32(image, cmd) == type)
            return cmd;
    }
    return nullptr;
}

void* vxcrash_async_macho_find_segment_cmd(const vxcrash_async_macho* image, const char* segname)
{
    const uint32_t type = image->m64 ? VXCRASH_LC_SEGMENT_64 : VXCRASH_LC_SEGMENT;
    const size_t size = image->m64 ? kSegmentCommand64Size : kSegmentCommand32Size;
    for (void* cmd = nullptr; (cmd = vxcrash_async_macho_next_command_type(image, cmd, type)) != nullptr;) {
        if (!commandFits(image, cmd, size))
            return nullptr;
        if (vxcrash_async_strncmp(static_cast<const char*>(cmd) + 8, segname, 16) == 0)
            return cmd;
    }
    return nullptr;
}

vxcrash_error_t vxcrash_async_macho_map_segment(const vxcrash_async_macho* image, const char* segname,
                                                vxcrash_async_macho_mapped_segment* seg)
{
    const auto* cmd = static_cast<const uint8_t*>(vxcrash_async_macho_find_segment_cmd(image, segname));
    if (!cmd)
        return VXCRASH_STATUS_NOT_FOUND;
    const size_t w = image->m64 ? 8 : 4;
    const uint64_t vmaddr = loadWord(image, cmd + 24);
    const uint64_t vmsize = loadWord(image, cmd + 24 + w);
    seg->fileoff = loadWord(image, cmd + 24 + 2 * w);
    seg->filesize = loadWord(image, cmd + 24 + 3 * w);
    uint64_t at;
    if (!vxcrash_async_address_apply_offset(vmaddr, image->vmaddr_slide, &at))
        return VXCRASH_STATUS_INVALID_ARGUMENT;
    return vxcrash_async_mobject_init(&seg->mobj, image->task, at, vmsize, false);
}

void vxcrash_async_macho_mapped_segment_free(vxcrash_async_macho_mapped_segment* seg)
{
    vxcrash_async_mobject_free(&seg->mobj);
}

vxcrash_error_t vxcrash_async_macho_map_section(const vxcrash_async_macho* image, const char* segname,
                                                const char* sectname, vxcrash_async_mobject* mobj)
{
    const auto* cmd = static_cast<const uint8_t*>(vxcrash_async_macho_find_segment_cmd(image, segname));
    if (!cmd)
        return VXCRASH_STATUS_NOT_FOUND;
    const size_t w = image->m64 ? 8 : 4;
    const size_t cmdSize = image->m64 ? kSegmentCommand64Size : kSegmentCommand32Size;
    const size_t sectSize = image->m64 ? kSection64Size : kSection32Size;
    const uint32_t nsects = load32(image, cmd + 24 + 4 * w + 8);
    const uint8_t* sect = cmd + cmdSize;
    for (uint32_t i = 0; i < nsects; ++i, sect += sectSize) {
        if (!commandFits(image, sect, sectSize))
            return VXCRASH_STATUS_INVALID_ARGUMENT;
        if (vxcrash_async_strncmp(reinterpret_cast<const char*>(sect), sectname, 16) != 0)
            continue;
        const uint64_t addr = loadWord(image, sect + 32);
        const uint64_t size = loadWord(image, sect + 32 + w);
        uint64_t at;
        if (!vxcrash_async_address_apply_offset(addr, image->vmaddr_slide, &at))
            return VXCRASH_STATUS_INVALID_ARGUMENT;
        return vxcrash_async_mobject_init(mobj, image->task, at, size, true);
    }
    return VXCRASH_STATUS_NOT_FOUND;
}

bool vxcrash_async_macho_uuid(const vxcrash_async_macho* image, uint8_t uuid[16])
{
    const auto* cmd = static_cast<const uint8_t*>(vxcrash_async_macho_find_command(image, VXCRASH_LC_UUID));
    if (!cmd || !commandFits(image, cmd, 24))
        return false;
    vxcrash_async_memcpy(uuid, cmd + 8, 16);
    return true;
}

vxcrash_error_t vxcrash_async_macho_symtab_reader_init(vxcrash_async_macho_symtab_reader* reader,
                                                       vxcrash_async_macho* image)
{
    vxcrash_async_memset(reader, 0, sizeof *reader);
    reader->image = image;
    const auto* symtab = static_cast<const uint8_t*>(vxcrash_async_macho_find_command(image, VXCRASH_LC_SYMTAB));
    if (!symtab || !commandFits(image, symtab, kSymtabCommandSize))
        return VXCRASH_STATUS_NOT_FOUND;
    const auto* dysymtab = static_cast<const uint8_t*>(vxcrash_async_macho_find_command(image, VXCRASH_LC_DYSYMTAB));
    if (dysymtab && !commandFits(image, dysymtab, kDysymtabCommandSize))
        dysymtab = nullptr;

    if (vxcrash_async_macho_map_segment(image, "__LINKEDIT", &reader->linkedit) != VXCRASH_STATUS_OK)
        return VXCRASH_STATUS_INTERNAL;

    const uint32_t symoff = load32(image, symtab + 8);
    const uint32_t nsyms = load32(image, symtab + 12);
    const uint32_t stroff = load32(image, symtab + 16);
    const uint32_t strsize = load32(image, symtab + 20);
    const size_t entrySize = image->m64 ? kNlist64Size : kNlist32Size;
    const vxcrash_async_mobject* seg = &reader->linkedit.mobj;
    const uint64_t base = seg->task_address;
    const int64_t fileoff = int64_t(reader->linkedit.fileoff);
    reader->symtab = vxcrash_async_mobject_remap_address(seg, base, int64_t(symoff) - fileoff,
                                                         size_t(nsyms) * entrySize);
    reader->string_table = static_cast<char*>(
        vxcrash_async_mobject_remap_address(seg, base, int64_t(stroff) - fileoff, strsize));
    if ((!reader->symtab && nsyms > 0) || (!reader->string_table && strsize > 0)) {
        vxcrash_async_macho_mapped_segment_free(&reader->linkedit);
        return VXCRASH_STATUS_INTERNAL;
    }
    reader->nsymbols = nsyms;
    reader->string_table_size = strsize;

    if (dysymtab) {
        const uint32_t ilocalsym = load32(image, dysymtab + 8);
        const uint32_t nlocalsym = load32(image, dysymtab + 12);
        const uint32_t iextdefsym = load32(image, dysymtab + 16);
        const uint32_t nextdefsym = load32(image, dysymtab + 20);
        if (uint64_t(iextdefsym) + nextdefsym > nsyms || uint64_t(ilocalsym) + nlocalsym > nsyms) {
            vxcrash_async_macho_mapped_segment_free(&reader->linkedit);
            return VXCRASH_STATUS_INVALID_ARGUMENT;
        }
        auto* table = static_cast<uint8_t*>(reader->symtab);
        reader->symtab_global = table + size_t(iextdefsym) * entrySize;
        reader->nsyms_global = nextdefsym;
        reader->symtab_local = table + size_t(ilocalsym) * entrySize;
        reader->nsyms_local = nlocalsym;
    }
    return VXCRASH_STATUS_OK;
}

vxcrash_async_macho_symtab_entry vxcrash_async_macho_symtab_reader_read(vxcrash_async_macho_symtab_reader* reader,
                                                                          void* symtab, uint32_t index)
{
    const vxcrash_async_macho* image = reader->image;
    vxcrash_async_macho_symtab_entry entry = {};
    const auto* p = static_cast<const uint8_t*>(symtab) + size_t(index) * (image->m64 ? kNlist64Size : kNlist32Size);
    entry.n_strx = load32(image, p);
    entry.n_type = p[4];
    entry.n_sect = p[5];
    uint16_t desc;
    __builtin_memcpy(&desc, p + 6, 2);
    entry.n_desc = image->byteorder->swap16(desc);
    entry.n_value = image->m64 ? load64(image, p + 8) : load32(image, p + 8);
    entry.normalized_value = entry.n_value;
    if (entry.n_desc & kArmThumbDefinition)
        entry.normalized_value |= 1;
    return entry;
}

const char* vxcrash_async_macho_symtab_reader_symbol_name(vxcrash_async_macho_symtab_reader* reader, uint32_t n_strx)
{
    if (!reader->string_table || n_strx >= reader->string_table_size)
        return nullptr;
    // The name must end with a NUL inside the mapped segment.
    const vxcrash_async_mobject* seg = &reader->linkedit.mobj;
    const char* name = reader->string_table + n_strx;
    for (const char* p = name;; ++p) {
        if (!vxcrash_async_mobject_verify_local_pointer(seg, reinterpret_cast<uintptr_t>(p), 0, 1))
            return nullptr;
        if (*p == '\0')
            return name;
    }
}

void vxcrash_async_macho_symtab_reader_free(vxcrash_async_macho_symtab_reader* reader)
{
    vxcrash_async_macho_mapped_segment_free(&reader->linkedit);
}

namespace {

bool symbolCounts(const vxcrash_async_macho_symtab_entry& e)
{
    return (e.n_type & kSymbolTypeMask) == kSymbolTypeSection;
}

void searchTable(vxcrash_async_macho_symtab_reader* reader, void* table, uint32_t count, uint64_t pc, bool* found,
                 vxcrash_async_macho_symtab_entry* best)
{
    for (uint32_t i = 0; i < count; ++i) {
        const auto entry = vxcrash_async_macho_symtab_reader_read(reader, table, i);
        if (!symbolCounts(entry) || entry.n_value > pc)
            continue;
        if (!*found || entry.n_value > best->n_value) {
            *best = entry;
            *found = true;
        }
    }
}

} // namespace

vxcrash_error_t vxcrash_async_macho_find_symbol_by_pc(vxcrash_async_macho* image, uint64_t pc,
                                                      vxcrash_async_macho_found_symbol_cb callback, void* ctx)
{
    vxcrash_async_macho_symtab_reader reader;
    vxcrash_error_t err = vxcrash_async_macho_symtab_reader_init(&reader, image);
    if (err != VXCRASH_STATUS_OK)
        return err;
    const uint64_t unslid = pc - uint64_t(image->vmaddr_slide);
    bool found = false;
    vxcrash_async_macho_symtab_entry best = {};
    if (reader.symtab_global && reader.symtab_local) {
        searchTable(&reader, reader.symtab_global, reader.nsyms_global, unslid, &found, &best);
        searchTable(&reader, reader.symtab_local, reader.nsyms_local, unslid, &found, &best);
    } else {
        searchTable(&reader, reader.symtab, reader.nsymbols, unslid, &found, &best);
    }
    if (!found) {
        err = VXCRASH_STATUS_NOT_FOUND;
    } else if (const char* name = vxcrash_async_macho_symtab_reader_symbol_name(&reader, best.n_strx)) {
        callback(best.normalized_value + uint64_t(image->vmaddr_slide), name, ctx);
    } else {
        err = VXCRASH_STATUS_INVALID_ARGUMENT;
    }
    vxcrash_async_macho_symtab_reader_free(&reader);
    return err;
}

vxcrash_error_t vxcrash_async_macho_find_symbol_by_name(vxcrash_async_macho* image, const char* name,
                                                        uint64_t* address)
{
    vxcrash_async_macho_symtab_reader reader;
    vxcrash_error_t err = vxcrash_async_macho_symtab_reader_init(&reader, image);
    if (err != VXCRASH_STATUS_OK)
        return err;
    err = VXCRASH_STATUS_NOT_FOUND;
    for (uint32_t i = 0; i < reader.nsymbols; ++i) {
        const auto entry = vxcrash_async_macho_symtab_reader_read(&reader, reader.symtab, i);
        if (!symbolCounts(entry))
            continue;
        const char* candidate = vxcrash_async_macho_symtab_reader_symbol_name(&reader, entry.n_strx);
        if (candidate && vxcrash_async_strcmp(candidate, name) == 0) {
            *address = entry.normalized_value + uint64_t(image->vmaddr_slide);
            err = VXCRASH_STATUS_OK;
            break;
        }
    }
    vxcrash_async_macho_symtab_reader_free(&reader);
    return err;
}

vxcrash_error_t vxcrash_async_macho_string_init(vxcrash_async_macho_string* string, vxcrash_async_macho* image,
                                                uint64_t address)
{
    vxcrash_async_memset(string, 0, sizeof *string);
    string->image = image;
    string->address = address;
    return VXCRASH_STATUS_OK;
}

namespace {

constexpr uint64_t kMaxStringPages = 16;

vxcrash_error_t loadString(vxcrash_async_macho_string* string)
{
    if (string->loaded)
        return VXCRASH_STATUS_OK;
    const uint64_t page = vxcrash_async_page_size();
    for (uint64_t pages = 1;; ++pages) {
        // Names are short; a "string" this long is corrupt metadata.
        if (pages > kMaxStringPages)
            return VXCRASH_STATUS_INVALID_ARGUMENT;
        vxcrash_error_t err =
            vxcrash_async_mobject_init(&string->mobj, string->image->task, string->address, pages * page, false);
        if (err != VXCRASH_STATUS_OK)
            return err;
        const uint64_t before = string->mobj.length;
        for (uint64_t i = 0;; ++i) {
            const auto* c = static_cast<const char*>(
                vxcrash_async_mobject_remap_address(&string->mobj, string->address, int64_t(i), 1));
            if (!c)
                break;
            if (*c == '\0') {
                string->length = size_t(i);
                string->loaded = true;
                return VXCRASH_STATUS_OK;
            }
        }
        vxcrash_async_mobject_free(&string->mobj);
        // The mapping stopped short of what was asked: the string runs into
        // unreadable memory.
        if (before < pages * page)
            return VXCRASH_STATUS_INVALID_ARGUMENT;
    }
}

} // namespace

vxcrash_error_t vxcrash_async_macho_string_get_length(vxcrash_async_macho_string* string, size_t* length)
{
    const vxcrash_error_t err = loadString(string);
    if (err == VXCRASH_STATUS_OK)
        *length = string->length;
    return err;
}

vxcrash_error_t vxcrash_async_macho_string_get_pointer(vxcrash_async_macho_string* string, const char** pointer)
{
    const vxcrash_error_t err = loadString(string);
    if (err != VXCRASH_STATUS_OK)
        return err;
    const void* p = vxcrash_async_mobject_remap_address(&string->mobj, string->address, 0, string->length + 1);
    if (!p)
        return VXCRASH_STATUS_ACCESS_DENIED;
    *pointer = static_cast<const char*>(p);
    return VXCRASH_STATUS_OK;
}

void vxcrash_async_macho_string_free(vxcrash_async_macho_string* string)
{
    if (string->loaded)
        vxcrash_async_mobject_free(&string->mobj);
    string->loaded = false;
}
