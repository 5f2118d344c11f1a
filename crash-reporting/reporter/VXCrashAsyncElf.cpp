#include "crash-reporting/reporter/VXCrashAsyncElf.h"

#include <elf.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr uint16_t kMaxProgramHeaders = 512;
constexpr uint64_t kMaxDynamicEntries = 4096;
constexpr uint32_t kNoteGnuBuildId = 3;
constexpr uint64_t kMaxSymbols = 1u << 24;
constexpr int32_t kCpuTypeX86 = 7;
constexpr int32_t kCpuTypeX86_64 = 0x1000007;
constexpr int32_t kCpuTypeArm = 12;
constexpr int32_t kCpuTypeArm64 = 0x100000C;
constexpr int32_t kCpuSubtypeX86All = 3;

// The DW_EH_PE encodings an .eh_frame_hdr uses for its frame pointer.
constexpr uint8_t kEhPeOmit = 0xFF;
constexpr uint8_t kEhPeUdata4 = 0x03;
constexpr uint8_t kEhPeSdata4 = 0x0B;
constexpr uint8_t kEhPeUdata8 = 0x04;
constexpr uint8_t kEhPeSdata8 = 0x0C;
constexpr uint8_t kEhPeAbsptr = 0x00;
constexpr uint8_t kEhPePcrel = 0x10;
constexpr uint8_t kEhPeDatarel = 0x30;

bool readNotes(vxcrash_task_t task, uint64_t address, uint64_t size, vxcrash_async_elf* image)
{
    uint64_t at = 0;
    while (size - at >= sizeof(Elf64_Nhdr)) {
        Elf64_Nhdr note;
        if (vxcrash_async_task_memcpy(task, address, int64_t(at), &note, sizeof note) != VXCRASH_STATUS_OK)
            return false;
        const uint64_t nameSize = (uint64_t(note.n_namesz) + 3) & ~uint64_t(3);
        const uint64_t descSize = (uint64_t(note.n_descsz) + 3) & ~uint64_t(3);
        const uint64_t nameAt = at + sizeof note;
        if (nameSize > size || descSize > size || nameAt + nameSize + descSize > size)
            return false;
        char name[4];
        if (note.n_type == kNoteGnuBuildId && note.n_namesz == 4 &&
            vxcrash_async_task_memcpy(task, address, int64_t(nameAt), name, 4) == VXCRASH_STATUS_OK &&
            std::memcmp(name, "GNU", 4) == 0 && note.n_descsz > 0 && note.n_descsz <= sizeof image->build_id) {
            if (vxcrash_async_task_memcpy(task, address, int64_t(nameAt + nameSize), image->build_id,
                                          note.n_descsz) != VXCRASH_STATUS_OK)
                return false;
            image->build_id_length = note.n_descsz;
            return true;
        }
        at = nameAt + nameSize + descSize;
    }
    return false;
}

// The loader rewrites most dynamic-section pointers to run-time addresses but
// leaves some images (the vDSO) with file addresses; take whichever lies in
// the image.
uint64_t dynamicPointer(const vxcrash_async_elf* image, uint64_t value)
{
    if (vxcrash_async_elf_contains_address(image, value))
        return value;
    return value + uint64_t(image->load_bias);
}

uint64_t gnuHashSymbolCount(vxcrash_task_t task, uint64_t table)
{
    uint32_t header[4]; // nbuckets, symoffset, bloom size, bloom shift
    if (vxcrash_async_task_memcpy(task, table, 0, header, sizeof header) != VXCRASH_STATUS_OK)
        return 0;
    const uint32_t nbuckets = header[0];
    const uint32_t symoffset = header[1];
    if (nbuckets == 0 || nbuckets > kMaxSymbols || header[2] > kMaxSymbols)
        return 0;
    const uint64_t buckets = table + 16 + uint64_t(header[2]) * 8;
    uint32_t last = 0;
    for (uint32_t i = 0; i < nbuckets; ++i) {
        uint32_t b;
        if (vxcrash_async_task_memcpy(task, buckets, int64_t(i) * 4, &b, 4) != VXCRASH_STATUS_OK)
            return 0;
        if (b > last)
            last = b;
    }
    if (last < symoffset)
        return symoffset;
    const uint64_t chains = buckets + uint64_t(nbuckets) * 4;
    for (uint64_t index = last; index - last < kMaxSymbols; ++index) {
        uint32_t hash;
        if (vxcrash_async_task_memcpy(task, chains, int64_t(index - symoffset) * 4, &hash, 4) != VXCRASH_STATUS_OK)
            return 0;
        if (hash & 1)
            return index + 1;
    }
    return 0;
}

void readDynamic(vxcrash_async_elf* image, uint64_t address, uint64_t size)
{
    uint64_t symtab = 0, strtab = 0, strsz = 0, hash = 0, gnuHash = 0;
    for (uint64_t i = 0; i < size / sizeof(Elf64_Dyn) && i < kMaxDynamicEntries; ++i) {
        Elf64_Dyn dyn;
        if (vxcrash_async_task_memcpy(image->task, address, int64_t(i * sizeof dyn), &dyn, sizeof dyn) !=
            VXCRASH_STATUS_OK)
            return;
        if (dyn.d_tag == DT_NULL)
            break;
        switch (dyn.d_tag) {
        case DT_SYMTAB: symtab = dyn.d_un.d_ptr; break;
        case DT_STRTAB: strtab = dyn.d_un.d_ptr; break;
        case DT_STRSZ: strsz = dyn.d_un.d_val; break;
        case DT_HASH: hash = dyn.d_un.d_ptr; break;
        case DT_GNU_HASH: gnuHash = dyn.d_un.d_ptr; break;
        default: break;
        }
    }
    if (!symtab || !strtab)
        return;
    uint64_t count = 0;
    if (hash) {
        uint32_t nchain;
        if (vxcrash_async_task_memcpy(image->task, dynamicPointer(image, hash), 4, &nchain, 4) == VXCRASH_STATUS_OK)
            count = nchain;
    } else if (gnuHash) {
        count = gnuHashSymbolCount(image->task, dynamicPointer(image, gnuHash));
    }
    if (count == 0 || count > kMaxSymbols)
        return;
    image->dynsym_addr = dynamicPointer(image, symtab);
    image->dynstr_addr = dynamicPointer(image, strtab);
    image->dynstr_size = strsz;
    image->dynsym_count = count;
}

// Reads `length` bytes at `offset` of the file; false on a short read.
bool preadFully(int fd, void* dest, size_t length, uint64_t offset)
{
    auto* p = static_cast<uint8_t*>(dest);
    while (length > 0) {
        const ssize_t n = pread(fd, p, length, off_t(offset));
        if (n <= 0)
            return false;
        p += n;
        length -= size_t(n);
        offset += uint64_t(n);
    }
    return true;
}

bool fileBuildIdMatches(int fd, const std::vector<Elf64_Shdr>& sections, const vxcrash_async_elf* image)
{
    for (const Elf64_Shdr& s : sections) {
        if (s.sh_type != SHT_NOTE || s.sh_size > (1u << 20))
            continue;
        std::vector<uint8_t> notes(s.sh_size);
        if (!preadFully(fd, notes.data(), notes.size(), s.sh_offset))
            continue;
        const vxcrash_task_region region = {0x1000, notes.data(), notes.size()};
        const vxcrash_task view = {0, &region, 1};
        vxcrash_async_elf probe = {};
        if (readNotes(&view, 0x1000, notes.size(), &probe))
            return probe.build_id_length == image->build_id_length &&
                   std::memcmp(probe.build_id, image->build_id, image->build_id_length) == 0;
    }
    return false;
}

// The file's full symbol table, when the file on disk is the image that is
// loaded (same build-id); it is mapped, not read, so it costs only address space.
void mapFileSymbols(vxcrash_async_elf* image, const char* path)
{
    if (!path || !*path || image->build_id_length == 0)
        return;
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return;
    Elf64_Ehdr ehdr;
    std::vector<Elf64_Shdr> sections;
    if (preadFully(fd, &ehdr, sizeof ehdr, 0) && std::memcmp(ehdr.e_ident, ELFMAG, SELFMAG) == 0 &&
        ehdr.e_ident[EI_CLASS] == ELFCLASS64 && ehdr.e_shentsize == sizeof(Elf64_Shdr) && ehdr.e_shnum > 0 &&
        ehdr.e_shnum < 0xff00) {
        sections.resize(ehdr.e_shnum);
        if (!preadFully(fd, sections.data(), sections.size() * sizeof(Elf64_Shdr), ehdr.e_shoff))
            sections.clear();
    }
    const Elf64_Shdr* symtab = nullptr;
    for (const Elf64_Shdr& s : sections) {
        if (s.sh_type == SHT_SYMTAB && s.sh_entsize == sizeof(Elf64_Sym) && s.sh_link < sections.size()) {
            symtab = &s;
            break;
        }
    }
    if (symtab && fileBuildIdMatches(fd, sections, image)) {
        const Elf64_Shdr& strtab = sections[symtab->sh_link];
        const uint64_t page = vxcrash_async_page_size();
        const uint64_t begin = std::min(symtab->sh_offset, strtab.sh_offset) & ~(page - 1);
        const uint64_t end = std::max(symtab->sh_offset + symtab->sh_size, strtab.sh_offset + strtab.sh_size);
        const off_t fileSize = lseek(fd, 0, SEEK_END);
        if (strtab.sh_type == SHT_STRTAB && end > begin && fileSize > 0 && end <= uint64_t(fileSize)) {
            void* map = mmap(nullptr, size_t(end - begin), PROT_READ, MAP_PRIVATE, fd, off_t(begin));
            if (map != MAP_FAILED) {
                image->file_map = map;
                image->file_map_length = size_t(end - begin);
                image->symtab = static_cast<const uint8_t*>(map) + (symtab->sh_offset - begin);
                image->symtab_count = symtab->sh_size / sizeof(Elf64_Sym);
                image->strtab = static_cast<const char*>(map) + (strtab.sh_offset - begin);
                image->strtab_size = strtab.sh_size;
            }
        }
    }
    close(fd);
}

// Decodes the .eh_frame pointer of an .eh_frame_hdr.
bool readEhFramePointer(vxcrash_task_t task, uint64_t hdr, uint8_t encoding, uint64_t* result)
{
    const uint64_t field = hdr + 4;
    uint64_t value = 0;
    switch (encoding & 0x0F) {
    case kEhPeAbsptr:
    case kEhPeUdata8:
    case kEhPeSdata8: {
        if (vxcrash_async_task_memcpy(task, field, 0, &value, 8) != VXCRASH_STATUS_OK)
            return false;
        break;
    }
    case kEhPeUdata4: {
        uint32_t v;
        if (vxcrash_async_task_memcpy(task, field, 0, &v, 4) != VXCRASH_STATUS_OK)
            return false;
        value = v;
        break;
    }
    case kEhPeSdata4: {
        int32_t v;
        if (vxcrash_async_task_memcpy(task, field, 0, &v, 4) != VXCRASH_STATUS_OK)
            return false;
        value = uint64_t(int64_t(v));
        break;
    }
    default: return false;
    }
    switch (encoding & 0x70) {
    case 0: break;
    case kEhPePcrel: value += field; break;
    case kEhPeDatarel: value += hdr; break;
    default: return false;
    }
    *result = value;
    return true;
}

} // namespace

vxcrash_error_t vxcrash_nasync_elf_init(vxcrash_async_elf* image, vxcrash_task_t task, const char* path,
                                        uint64_t header)
{
    const vxcrash_error_t status = vxcrash_async_elf_init_from_memory(image, task, header, nullptr);
    if (status != VXCRASH_STATUS_OK)
        return status;
    image->name = strdup(path ? path : "");
    mapFileSymbols(image, path);
    return VXCRASH_STATUS_OK;
}

vxcrash_error_t vxcrash_async_elf_init_from_memory(vxcrash_async_elf* image, vxcrash_task_t task, uint64_t header,
                                                   char* name)
{
    vxcrash_async_memset(image, 0, sizeof *image);
    image->name = name;
    image->task = task;
    image->header_addr = header;

    Elf64_Ehdr ehdr;
    if (vxcrash_async_task_memcpy(task, header, 0, &ehdr, sizeof ehdr) != VXCRASH_STATUS_OK)
        return VXCRASH_STATUS_INTERNAL;
    if (std::memcmp(ehdr.e_ident, ELFMAG, SELFMAG) != 0)
        return VXCRASH_STATUS_INVALID_ARGUMENT;
    if (ehdr.e_ident[EI_CLASS] != ELFCLASS64 || ehdr.e_ident[EI_DATA] != ELFDATA2LSB)
        return VXCRASH_STATUS_UNSUPPORTED;
    if (ehdr.e_phentsize != sizeof(Elf64_Phdr) || ehdr.e_phnum == 0 || ehdr.e_phnum > kMaxProgramHeaders)
        return VXCRASH_STATUS_INVALID_ARGUMENT;
    image->machine = ehdr.e_machine;

    Elf64_Phdr phdrs[kMaxProgramHeaders];
    if (vxcrash_async_task_memcpy(task, header, int64_t(ehdr.e_phoff), phdrs, ehdr.e_phnum * sizeof(Elf64_Phdr)) !=
        VXCRASH_STATUS_OK)
        return VXCRASH_STATUS_INVALID_ARGUMENT;

    // The segment that maps the file's start holds the header: it fixes the bias.
    const Elf64_Phdr* first = nullptr;
    uint64_t end = 0;
    for (uint16_t i = 0; i < ehdr.e_phnum; ++i) {
        const Elf64_Phdr& p = phdrs[i];
        if (p.p_type != PT_LOAD)
            continue;
        if (!first || p.p_vaddr < first->p_vaddr)
            first = &p;
        if (p.p_vaddr + p.p_memsz > end)
            end = p.p_vaddr + p.p_memsz;
    }
    if (!first || first->p_offset > first->p_vaddr)
        return VXCRASH_STATUS_INVALID_ARGUMENT;
    const uint64_t fileStartVaddr = first->p_vaddr - first->p_offset;
    image->load_bias = int64_t(header - fileStartVaddr);
    image->image_size = end - fileStartVaddr;

    for (uint16_t i = 0; i < ehdr.e_phnum; ++i) {
        const Elf64_Phdr& p = phdrs[i];
        const uint64_t at = p.p_vaddr + uint64_t(image->load_bias);
        if (p.p_type == PT_NOTE && image->build_id_length == 0) {
            readNotes(task, at, p.p_memsz, image);
        } else if (p.p_type == PT_DYNAMIC) {
            readDynamic(image, at, p.p_memsz);
        } else if (p.p_type == PT_GNU_EH_FRAME) {
            uint8_t hdr[4]; // version, eh_frame_ptr encoding, fde count encoding, table encoding
            uint64_t frame;
            if (vxcrash_async_task_memcpy(task, at, 0, hdr, 4) == VXCRASH_STATUS_OK && hdr[0] == 1 &&
                hdr[1] != kEhPeOmit && readEhFramePointer(task, at, hdr[1], &frame)) {
                // .eh_frame has no size of its own in memory; it ends at its
                // zero terminator, within the segment that holds it.
                for (uint16_t j = 0; j < ehdr.e_phnum; ++j) {
                    const Elf64_Phdr& load = phdrs[j];
                    const uint64_t start = load.p_vaddr + uint64_t(image->load_bias);
                    if (load.p_type == PT_LOAD && frame >= start && frame - start < load.p_memsz) {
                        image->eh_frame_addr = frame;
                        image->eh_frame_size = load.p_memsz - (frame - start);
                    }
                }
            }
        }
    }

    return VXCRASH_STATUS_OK;
}

void vxcrash_nasync_elf_free(vxcrash_async_elf* image)
{
    if (image->file_map)
        munmap(image->file_map, image->file_map_length);
    free(image->name);
    vxcrash_async_memset(image, 0, sizeof *image);
}

bool vxcrash_async_elf_contains_address(const vxcrash_async_elf* image, uint64_t address)
{
    return address >= image->header_addr && address - image->header_addr < image->image_size;
}

int32_t vxcrash_async_elf_cpu_type(const vxcrash_async_elf* image)
{
    switch (image->machine) {
    case EM_X86_64: return kCpuTypeX86_64;
    case EM_386: return kCpuTypeX86;
    case EM_AARCH64: return kCpuTypeArm64;
    case EM_ARM: return kCpuTypeArm;
    default: return 0;
    }
}

int32_t vxcrash_async_elf_cpu_subtype(const vxcrash_async_elf* image)
{
    return image->machine == EM_X86_64 || image->machine == EM_386 ? kCpuSubtypeX86All : 0;
}

vxcrash_error_t vxcrash_async_elf_map_eh_frame(const vxcrash_async_elf* image, vxcrash_async_mobject* mobj)
{
    if (!image->eh_frame_addr || !image->eh_frame_size)
        return VXCRASH_STATUS_NOT_FOUND;
    return vxcrash_async_mobject_init(mobj, image->task, image->eh_frame_addr, image->eh_frame_size, false);
}

namespace {

struct SymbolMatch {
    bool found = false;
    uint64_t value = 0;
    const char* name = nullptr;
};

bool symbolCounts(const Elf64_Sym& sym)
{
    const unsigned type = ELF64_ST_TYPE(sym.st_info);
    return sym.st_shndx != SHN_UNDEF && (type == STT_FUNC || type == STT_GNU_IFUNC) && sym.st_value != 0;
}

// Names come from a string table of `size` bytes and must end inside it.
const char* boundedName(const char* table, uint64_t size, uint32_t index)
{
    if (index >= size)
        return nullptr;
    for (uint64_t i = index; i < size; ++i) {
        if (table[i] == '\0')
            return table + index;
    }
    return nullptr;
}

void consider(const Elf64_Sym& sym, uint64_t pc, const char* name, SymbolMatch* best)
{
    if (!name || !*name || !symbolCounts(sym) || sym.st_value > pc)
        return;
    if (sym.st_size != 0 && pc - sym.st_value >= sym.st_size)
        return;
    if (!best->found || sym.st_value > best->value) {
        best->found = true;
        best->value = sym.st_value;
        best->name = name;
    }
}

} // namespace

vxcrash_error_t vxcrash_async_elf_find_symbol_by_pc(const vxcrash_async_elf* image, uint64_t pc,
                                                    vxcrash_async_elf_found_symbol_cb callback, void* ctx)
{
    const uint64_t filePc = pc - uint64_t(image->load_bias);
    SymbolMatch best;
    for (uint64_t i = 0; i < image->symtab_count; ++i) {
        Elf64_Sym sym;
        __builtin_memcpy(&sym, image->symtab + i * sizeof sym, sizeof sym);
        consider(sym, filePc, boundedName(image->strtab, image->strtab_size, sym.st_name), &best);
    }
    if (best.found) {
        callback(best.value + uint64_t(image->load_bias), best.name, ctx);
        return VXCRASH_STATUS_OK;
    }
    if (!image->dynsym_count)
        return VXCRASH_STATUS_NOT_FOUND;

    vxcrash_async_mobject syms;
    vxcrash_error_t err = vxcrash_async_mobject_init(&syms, image->task, image->dynsym_addr,
                                                     image->dynsym_count * sizeof(Elf64_Sym), true);
    if (err != VXCRASH_STATUS_OK)
        return err;
    vxcrash_async_mobject strs;
    err = vxcrash_async_mobject_init(&strs, image->task, image->dynstr_addr, image->dynstr_size, false);
    if (err != VXCRASH_STATUS_OK) {
        vxcrash_async_mobject_free(&syms);
        return err;
    }
    const auto* table = reinterpret_cast<const uint8_t*>(syms.address);
    const auto* strings = reinterpret_cast<const char*>(strs.address);
    for (uint64_t i = 0; i < image->dynsym_count; ++i) {
        Elf64_Sym sym;
        __builtin_memcpy(&sym, table + i * sizeof sym, sizeof sym);
        consider(sym, filePc, boundedName(strings, strs.length, sym.st_name), &best);
    }
    err = VXCRASH_STATUS_NOT_FOUND;
    if (best.found) {
        callback(best.value + uint64_t(image->load_bias), best.name, ctx);
        err = VXCRASH_STATUS_OK;
    }
    vxcrash_async_mobject_free(&strs);
    vxcrash_async_mobject_free(&syms);
    return err;
}
