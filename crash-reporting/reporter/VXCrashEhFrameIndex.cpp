#include "crash-reporting/reporter/VXCrashEhFrameIndex.h"

#include "crash-reporting/reporter/VXCrashDwarfCfaState.h"
#include "crash-reporting/reporter/VXCrashDwarfFrame.h"

#include <elf.h>

namespace {

constexpr uint8_t kEhFrameHdrVersion = 1;
// The encodings every linker writes for the table: 32-bit offsets from the
// header, a 32-bit count.
constexpr uint8_t kEhPeUdata4 = 0x03;
constexpr uint8_t kEhPeSdata4 = 0x0B;
constexpr uint8_t kEhPeDatarelSdata4 = 0x3B;
constexpr uint8_t kEhPeUdata8 = 0x04;
constexpr uint8_t kEhPeSdata8 = 0x0C;
constexpr uint8_t kEhPeAbsptr = 0x00;
constexpr uint16_t kMaxProgramHeaders = 64;
// The most an FDE and its CIE may span, so a corrupt offset cannot make us
// copy a whole segment.
constexpr uint64_t kMaxEntrySpan = 1 << 20;

// The task address of the image's .eh_frame_hdr, or 0.
uint64_t findEhFrameHdr(const vxcrash_async_elf* elf)
{
    Elf64_Ehdr ehdr;
    if (vxcrash_async_task_memcpy(elf->task, elf->header_addr, 0, &ehdr, sizeof ehdr) != VXCRASH_STATUS_OK
        || ehdr.e_phentsize != sizeof(Elf64_Phdr) || ehdr.e_phnum == 0 || ehdr.e_phnum > kMaxProgramHeaders)
        return 0;
    for (uint16_t i = 0; i < ehdr.e_phnum; ++i) {
        Elf64_Phdr phdr;
        if (vxcrash_async_task_memcpy(elf->task, elf->header_addr, int64_t(ehdr.e_phoff + i * sizeof phdr), &phdr,
                                      sizeof phdr)
            != VXCRASH_STATUS_OK)
            return 0;
        if (phdr.p_type == PT_GNU_EH_FRAME)
            return phdr.p_vaddr + uint64_t(elf->load_bias);
    }
    return 0;
}

size_t pointerSize(uint8_t encoding)
{
    switch (encoding & 0x0F) {
    case kEhPeUdata4:
    case kEhPeSdata4:
        return 4;
    case kEhPeAbsptr:
    case kEhPeUdata8:
    case kEhPeSdata8:
        return 8;
    default:
        return 0;
    }
}

// Finds the FDE whose range may hold `pc` in the header's table: the entry
// with the largest start not above it. False when the table is missing,
// unreadable or in an encoding this reader does not know.
bool lookUpFde(vxcrash_task_t task, uint64_t hdr, uint64_t pc, uint64_t* fde)
{
    uint8_t head[4]; // version, eh_frame_ptr encoding, count encoding, table encoding
    if (vxcrash_async_task_memcpy(task, hdr, 0, head, sizeof head) != VXCRASH_STATUS_OK
        || head[0] != kEhFrameHdrVersion || head[2] != kEhPeUdata4 || head[3] != kEhPeDatarelSdata4)
        return false;
    const size_t framePointer = pointerSize(head[1]);
    if (framePointer == 0)
        return false;
    uint32_t count = 0;
    const uint64_t countAt = hdr + 4 + framePointer;
    if (vxcrash_async_task_memcpy(task, countAt, 0, &count, sizeof count) != VXCRASH_STATUS_OK || count == 0)
        return false;
    const uint64_t table = countAt + 4;

    int32_t entry[2]; // initial location, FDE address; both relative to the header
    uint32_t low = 0;
    uint32_t high = count;
    // Invariant: every entry below `low` starts at or below pc, every entry
    // from `high` on above it.
    while (low < high) {
        const uint32_t middle = low + (high - low) / 2;
        if (vxcrash_async_task_memcpy(task, table, int64_t(middle) * 8, entry, sizeof entry) != VXCRASH_STATUS_OK)
            return false;
        if (hdr + uint64_t(int64_t(entry[0])) <= pc)
            low = middle + 1;
        else
            high = middle;
    }
    if (low == 0)
        return false;
    if (vxcrash_async_task_memcpy(task, table, int64_t(low - 1) * 8, entry, sizeof entry) != VXCRASH_STATUS_OK)
        return false;
    *fde = hdr + uint64_t(int64_t(entry[1]));
    return true;
}

// Maps the FDE at `fde` and its CIE; false when their headers are unreadable
// or they are not plain 32-bit entries.
bool mapEntries(vxcrash_task_t task, uint64_t fde, vxcrash_async_mobject* mobj, uint64_t* fdeOffset)
{
    uint32_t fdeHead[2]; // length, CIE pointer
    if (vxcrash_async_task_memcpy(task, fde, 0, fdeHead, sizeof fdeHead) != VXCRASH_STATUS_OK
        || fdeHead[0] == 0xFFFFFFFF || fdeHead[0] < 4 || fdeHead[1] == 0 || fdeHead[1] > fde + 4)
        return false;
    const uint64_t cie = fde + 4 - fdeHead[1];
    uint32_t cieLength = 0;
    if (vxcrash_async_task_memcpy(task, cie, 0, &cieLength, sizeof cieLength) != VXCRASH_STATUS_OK
        || cieLength == 0xFFFFFFFF)
        return false;
    const uint64_t begin = cie < fde ? cie : fde;
    const uint64_t fdeEnd = fde + 4 + fdeHead[0];
    const uint64_t cieEnd = cie + 4 + cieLength;
    const uint64_t end = fdeEnd > cieEnd ? fdeEnd : cieEnd;
    if (end <= begin || end - begin > kMaxEntrySpan)
        return false;
    if (vxcrash_async_mobject_init(mobj, task, begin, end - begin, true) != VXCRASH_STATUS_OK)
        return false;
    *fdeOffset = fde - begin;
    return true;
}

vxframe_status_t step(vxcrash_task_t task, const vxcrash_async_mobject* section, uint64_t fdeOffset, uint64_t pc,
                      const vxcrash_async_thread_state* current, vxcrash_async_thread_state* next)
{
    using namespace vxcrash::async;
    const vxcrash_async_byteorder* bo = vxcrash_async_byteorder_little_endian();
    dwarf_frame_reader<uint64_t> frames;
    if (frames.init(section, bo, true, false) != VXCRASH_STATUS_OK)
        return VXFRAME_STATUS_INVALID_ARGUMENT;
    vxcrash_async_dwarf_fde_info<uint64_t> fde;
    if (frames.find_fde(fdeOffset, pc, &fde) != VXCRASH_STATUS_OK || fde.fde_offset != fdeOffset + 4)
        return VXFRAME_STATUS_UNSUPPORTED;
    const uint64_t base = vxcrash_async_mobject_base_address(section);
    gnu_ehptr_reader<uint64_t> pointers(bo);
    pointers.set_frame_section_base(base, base);
    vxcrash_async_dwarf_cie_info<uint64_t> cie;
    if (vxcrash_async_dwarf_cie_info_init(&cie, section, bo, &pointers, base + fde.cie_offset) != VXCRASH_STATUS_OK)
        return VXFRAME_STATUS_UNSUPPORTED;
    dwarf_cfa_state<uint64_t, int64_t> state;
    if (state.eval_program(section, pc, fde.pc_start, &cie, &pointers, bo, base, cie.initial_instructions_offset,
                           cie.initial_instructions_length)
            != VXCRASH_STATUS_OK
        || state.eval_program(section, pc, fde.pc_start, &cie, &pointers, bo, base, fde.instructions_offset,
                              fde.instructions_length)
               != VXCRASH_STATUS_OK)
        return VXFRAME_STATUS_UNSUPPORTED;
    if (state.apply_state(task, &cie, current, bo, next) != VXCRASH_STATUS_OK)
        return VXFRAME_STATUS_NO_FRAME;
    return VXFRAME_STATUS_OK;
}

} // namespace

const vxframe_cursor_frame_reader_t kVXCrashIndexedFrameReaders[3] = {
    vxframe_cursor_read_compact_unwind,
    vxcrash_elf_read_indexed_dwarf_unwind,
    vxframe_cursor_read_frame_ptr,
};

vxframe_status_t vxcrash_elf_read_indexed_dwarf_unwind(vxcrash_task_t task, vxcrash_async_image_list* image_list,
                                                       const vxcrash_async_thread_state* current,
                                                       const vxcrash_async_thread_state* previous,
                                                       vxcrash_async_thread_state* next)
{
    if (!vxcrash_async_thread_state_has_reg(current, VXCRASH_REG_IP)
        || vxcrash_async_thread_state_get_reg(current, VXCRASH_REG_IP) == 0 || !image_list)
        return vxframe_cursor_read_dwarf_unwind(task, image_list, current, previous, next);

    const uint64_t pc = vxframe_lookup_pc(current, previous);
    vxcrash_async_image_list_set_reading(image_list, true);
    const vxcrash_async_image* image = vxcrash_async_image_containing_address(image_list, pc);
    uint64_t fde = 0;
    vxcrash_async_mobject section;
    uint64_t fdeOffset = 0;
    const bool indexed = image && image->format == VXCRASH_IMAGE_FORMAT_ELF
                         && lookUpFde(task, findEhFrameHdr(&image->elf), pc, &fde)
                         && mapEntries(task, fde, &section, &fdeOffset);
    vxcrash_async_image_list_set_reading(image_list, false);
    if (!indexed)
        return vxframe_cursor_read_dwarf_unwind(task, image_list, current, previous, next);

    const vxframe_status_t status = step(task, &section, fdeOffset, pc, current, next);
    vxcrash_async_mobject_free(&section);
    return status;
}
