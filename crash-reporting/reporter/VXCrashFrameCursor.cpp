#include "crash-reporting/reporter/VXCrashFrameCursor.h"

#include "crash-reporting/reporter/VXCrashCompactUnwind.h"
#include "crash-reporting/reporter/VXCrashDwarfCfaState.h"

const char* vxframe_strerror(vxframe_status_t status)
{
    switch (status) {
    case VXFRAME_STATUS_OK: return "No error";
    case VXFRAME_STATUS_UNKNOWN: return "Unknown error";
    case VXFRAME_STATUS_NO_FRAME: return "No frames are available";
    case VXFRAME_STATUS_BAD_FRAME: return "Corrupted frame";
    case VXFRAME_STATUS_UNSUPPORTED: return "Operation not supported";
    case VXFRAME_STATUS_INVALID_ARGUMENT: return "Invalid argument";
    case VXFRAME_STATUS_INTERNAL: return "Internal error";
    case VXFRAME_STATUS_BAD_REGISTER: return "Invalid register";
    }
    return "Unhandled error code";
}

vxcrash_error_t vxframe_cursor_init(vxframe_cursor* cursor, vxcrash_task_t task,
                                    const vxcrash_async_thread_state* thread_state,
                                    vxcrash_async_image_list* image_list)
{
    cursor->task = task;
    cursor->image_list = image_list;
    cursor->depth = 0;
    vxcrash_async_thread_state_copy(&cursor->frame, thread_state);
    vxcrash_async_thread_state_copy(&cursor->prev_frame, thread_state);
    return VXCRASH_STATUS_OK;
}

vxframe_status_t vxframe_cursor_next_with_readers(vxframe_cursor* cursor, const vxframe_cursor_frame_reader_t* readers,
                                                  size_t reader_count)
{
    if (cursor->depth == 0) {
        cursor->depth = 1;
        return VXFRAME_STATUS_OK;
    }
    if (reader_count == 0)
        return VXFRAME_STATUS_INVALID_ARGUMENT;
    const vxcrash_async_thread_state* previous = cursor->depth > 1 ? &cursor->prev_frame : nullptr;
    vxcrash_async_thread_state next;
    vxframe_status_t status = VXFRAME_STATUS_UNKNOWN;
    for (size_t i = 0; i < reader_count; ++i) {
        status = readers[i](cursor->task, cursor->image_list, &cursor->frame, previous, &next);
        if (status == VXFRAME_STATUS_OK)
            break;
    }
    if (status != VXFRAME_STATUS_OK)
        return status;
    // The bottom of every stack returns to 0.
    if (!vxcrash_async_thread_state_has_reg(&next, VXCRASH_REG_IP) ||
        vxcrash_async_thread_state_get_reg(&next, VXCRASH_REG_IP) <= vxcrash_async_page_size())
        return VXFRAME_STATUS_NO_FRAME;
    vxcrash_async_thread_state_copy(&cursor->prev_frame, &cursor->frame);
    vxcrash_async_thread_state_copy(&cursor->frame, &next);
    ++cursor->depth;
    return VXFRAME_STATUS_OK;
}

vxframe_status_t vxframe_cursor_next(vxframe_cursor* cursor)
{
    static const vxframe_cursor_frame_reader_t readers[] = {
        vxframe_cursor_read_compact_unwind,
        vxframe_cursor_read_dwarf_unwind,
        vxframe_cursor_read_frame_ptr,
    };
    return vxframe_cursor_next_with_readers(cursor, readers, 3);
}

vxframe_status_t vxframe_cursor_get_reg(const vxframe_cursor* cursor, vxcrash_regnum_t regnum, uint64_t* value)
{
    if (!vxcrash_async_thread_state_has_reg(&cursor->frame, regnum))
        return VXFRAME_STATUS_UNSUPPORTED;
    *value = vxcrash_async_thread_state_get_reg(&cursor->frame, regnum);
    return VXFRAME_STATUS_OK;
}

const char* vxframe_cursor_get_regname(const vxframe_cursor* cursor, vxcrash_regnum_t regnum)
{
    return vxcrash_async_thread_state_get_reg_name(&cursor->frame, regnum);
}

size_t vxframe_cursor_get_regcount(const vxframe_cursor* cursor)
{
    return vxcrash_async_thread_state_get_reg_count(&cursor->frame);
}

void vxframe_cursor_free(vxframe_cursor*) { }

uint64_t vxframe_lookup_pc(const vxcrash_async_thread_state* current, const vxcrash_async_thread_state* previous)
{
    const uint64_t pc = vxcrash_async_thread_state_get_reg(current, VXCRASH_REG_IP);
    return previous && pc > 0 ? pc - 1 : pc;
}

namespace {

// Marks the image list as read for the life of one unwinding step.
class ReadingImages {
public:
    explicit ReadingImages(vxcrash_async_image_list* list) : list_(list)
    {
        if (list_)
            vxcrash_async_image_list_set_reading(list_, true);
    }
    ~ReadingImages()
    {
        if (list_)
            vxcrash_async_image_list_set_reading(list_, false);
    }
    ReadingImages(const ReadingImages&) = delete;
    ReadingImages& operator=(const ReadingImages&) = delete;

private:
    vxcrash_async_image_list* list_;
};

} // namespace

vxframe_status_t vxframe_cursor_read_compact_unwind(vxcrash_task_t task, vxcrash_async_image_list* image_list,
                                                    const vxcrash_async_thread_state* current,
                                                    const vxcrash_async_thread_state* previous,
                                                    vxcrash_async_thread_state* next)
{
    if (!vxcrash_async_thread_state_has_reg(current, VXCRASH_REG_IP))
        return VXFRAME_STATUS_BAD_FRAME;
    if (vxcrash_async_thread_state_get_reg(current, VXCRASH_REG_IP) == 0)
        return VXFRAME_STATUS_UNSUPPORTED;
    if (!image_list)
        return VXFRAME_STATUS_UNSUPPORTED;
    const uint64_t pc = vxframe_lookup_pc(current, previous);
    ReadingImages reading(image_list);
    vxcrash_async_image* image = vxcrash_async_image_containing_address(image_list, pc);
    // Compact unwind information only exists in Mach-O images.
    if (!image || image->format != VXCRASH_IMAGE_FORMAT_MACHO)
        return VXFRAME_STATUS_UNSUPPORTED;

    vxcrash_async_mobject section;
    if (vxcrash_async_macho_map_section(&image->macho, "__TEXT", "__unwind_info", &section) != VXCRASH_STATUS_OK)
        return VXFRAME_STATUS_UNSUPPORTED;
    vxframe_status_t status = VXFRAME_STATUS_OK;
    vxcrash_async_cfe_reader reader;
    uint64_t function = 0;
    uint32_t encoding = 0;
    vxcrash_async_cfe_entry entry;
    const uint64_t header = image->macho.header_addr;
    if (vxcrash_async_cfe_reader_init(&reader, &section, vxcrash_async_macho_cpu_type(&image->macho)) !=
        VXCRASH_STATUS_OK) {
        status = VXFRAME_STATUS_INVALID_ARGUMENT;
    } else if (vxcrash_async_cfe_reader_find_pc(&reader, pc - header, &function, &encoding) != VXCRASH_STATUS_OK ||
               vxcrash_async_cfe_entry_init(&entry, reader.cpu_type, encoding) != VXCRASH_STATUS_OK) {
        status = VXFRAME_STATUS_UNSUPPORTED;
    } else if (entry.type == CFE_TYPE_NONE) {
        status = VXFRAME_STATUS_NO_FRAME;
    } else if (UINT64_MAX - header < function) {
        status = VXFRAME_STATUS_INVALID_ARGUMENT;
    } else if (vxcrash_async_cfe_entry_apply(task, header + function, current, &entry, next) != VXCRASH_STATUS_OK) {
        status = VXFRAME_STATUS_NO_FRAME;
    }
    vxcrash_async_mobject_free(&section);
    return status;
}

namespace {

template <typename machine_ptr, typename machine_ptr_s>
vxframe_status_t dwarfStep(vxcrash_task_t task, const vxcrash_async_mobject* section, bool debugFrame,
                           const vxcrash_async_byteorder* bo, uint64_t pc,
                           const vxcrash_async_thread_state* current, vxcrash_async_thread_state* next)
{
    using namespace vxcrash::async;
    dwarf_frame_reader<machine_ptr> frames;
    if (frames.init(section, bo, sizeof(machine_ptr) == 8, debugFrame) != VXCRASH_STATUS_OK)
        return VXFRAME_STATUS_INVALID_ARGUMENT;
    vxcrash_async_dwarf_fde_info<machine_ptr> fde;
    if (frames.find_fde(0, machine_ptr(pc), &fde) != VXCRASH_STATUS_OK)
        return VXFRAME_STATUS_UNSUPPORTED;
    const uint64_t base = vxcrash_async_mobject_base_address(section);
    gnu_ehptr_reader<machine_ptr> pointers(bo);
    pointers.set_frame_section_base(base, base);
    vxcrash_async_dwarf_cie_info<machine_ptr> cie;
    if (vxcrash_async_dwarf_cie_info_init(&cie, section, bo, &pointers, base + fde.cie_offset) != VXCRASH_STATUS_OK)
        return VXFRAME_STATUS_UNSUPPORTED;
    // The rule table is large; it lives here for this one step only.
    dwarf_cfa_state<machine_ptr, machine_ptr_s> state;
    if (state.eval_program(section, machine_ptr(pc), fde.pc_start, &cie, &pointers, bo, base,
                           cie.initial_instructions_offset, cie.initial_instructions_length) != VXCRASH_STATUS_OK ||
        state.eval_program(section, machine_ptr(pc), fde.pc_start, &cie, &pointers, bo, base, fde.instructions_offset,
                           fde.instructions_length) != VXCRASH_STATUS_OK)
        return VXFRAME_STATUS_UNSUPPORTED;
    if (state.apply_state(task, &cie, current, bo, next) != VXCRASH_STATUS_OK)
        return VXFRAME_STATUS_NO_FRAME;
    return VXFRAME_STATUS_OK;
}

} // namespace

vxframe_status_t vxframe_cursor_read_dwarf_unwind(vxcrash_task_t task, vxcrash_async_image_list* image_list,
                                                  const vxcrash_async_thread_state* current,
                                                  const vxcrash_async_thread_state* previous,
                                                  vxcrash_async_thread_state* next)
{
    if (!vxcrash_async_thread_state_has_reg(current, VXCRASH_REG_IP))
        return VXFRAME_STATUS_BAD_FRAME;
    if (vxcrash_async_thread_state_get_reg(current, VXCRASH_REG_IP) == 0)
        return VXFRAME_STATUS_UNSUPPORTED;
    if (!image_list)
        return VXFRAME_STATUS_UNSUPPORTED;
    const uint64_t pc = vxframe_lookup_pc(current, previous);
    ReadingImages reading(image_list);
    vxcrash_async_image* image = vxcrash_async_image_containing_address(image_list, pc);
    if (!image)
        return VXFRAME_STATUS_UNSUPPORTED;

    vxcrash_async_mobject section;
    bool debugFrame = false;
    const vxcrash_async_byteorder* bo = vxcrash_async_byteorder_little_endian();
    if (image->format == VXCRASH_IMAGE_FORMAT_ELF) {
        if (vxcrash_async_elf_map_eh_frame(&image->elf, &section) != VXCRASH_STATUS_OK)
            return VXFRAME_STATUS_NO_FRAME;
    } else {
        bo = image->macho.byteorder;
        if (vxcrash_async_macho_map_section(&image->macho, "__TEXT", "__eh_frame", &section) != VXCRASH_STATUS_OK) {
            if (vxcrash_async_macho_map_section(&image->macho, "__DWARF", "__debug_frame", &section) !=
                VXCRASH_STATUS_OK)
                return VXFRAME_STATUS_NO_FRAME;
            debugFrame = true;
        }
    }
    const vxframe_status_t status =
        vxcrash_async_image_is_64bit(image)
            ? dwarfStep<uint64_t, int64_t>(task, &section, debugFrame, bo, pc, current, next)
            : dwarfStep<uint32_t, int32_t>(task, &section, debugFrame, bo, pc, current, next);
    vxcrash_async_mobject_free(&section);
    return status;
}

vxframe_status_t vxframe_cursor_read_frame_ptr(vxcrash_task_t task, vxcrash_async_image_list*,
                                               const vxcrash_async_thread_state* current,
                                               const vxcrash_async_thread_state* previous,
                                               vxcrash_async_thread_state* next)
{
    if (!vxcrash_async_thread_state_has_reg(current, VXCRASH_REG_FP))
        return VXFRAME_STATUS_BAD_FRAME;
    const uint64_t fp = vxcrash_async_thread_state_get_reg(current, VXCRASH_REG_FP);
    if (fp == 0)
        return VXFRAME_STATUS_NO_FRAME;
    if (previous && vxcrash_async_thread_state_has_reg(previous, VXCRASH_REG_FP)) {
        const uint64_t before = vxcrash_async_thread_state_get_reg(previous, VXCRASH_REG_FP);
        const bool down = vxcrash_async_thread_state_get_stack_direction(current) == VXCRASH_STACK_DIRECTION_DOWN;
        if (down ? fp < before : fp > before)
            return VXFRAME_STATUS_BAD_FRAME;
    }
    const size_t g = vxcrash_async_thread_state_get_greg_size(current);
    uint8_t words[16];
    if (vxcrash_async_task_memcpy(task, fp, 0, words, 2 * g) != VXCRASH_STATUS_OK)
        return VXFRAME_STATUS_BAD_FRAME;
    uint64_t callerFp = 0;
    uint64_t pc = 0;
    if (g == 8) {
        __builtin_memcpy(&callerFp, words, 8);
        __builtin_memcpy(&pc, words + 8, 8);
    } else {
        uint32_t lo, hi;
        __builtin_memcpy(&lo, words, 4);
        __builtin_memcpy(&hi, words + 4, 4);
        callerFp = lo;
        pc = hi;
    }
    vxcrash_async_thread_state_copy(next, current);
    vxcrash_async_thread_state_clear_all_regs(next);
    vxcrash_async_thread_state_set_reg(next, VXCRASH_REG_FP, callerFp);
    vxcrash_async_thread_state_set_reg(next, VXCRASH_REG_IP, pc);
    // The frame record sits just below the caller's stack pointer at the call;
    // knowing it lets a later step use call-frame information again.
    vxcrash_async_thread_state_set_reg(next, VXCRASH_REG_SP, fp + 2 * g);
    return VXFRAME_STATUS_OK;
}
