#include "crash-reporting/reporter/VXCrashCompactUnwind.h"

#include "crash-reporting/reporter/VXCrashDwarfExpression.h"

namespace {

constexpr uint32_t kModeMask = 0x0F000000;
constexpr uint32_t kPageRegular = 2;
constexpr uint32_t kPageCompressed = 3;
constexpr size_t kFirstLevelEntrySize = 12;
constexpr size_t kRegularEntrySize = 8;

// Intel register groups in thread-state numbers: none, then the callee-saved
// registers in the order the encodings number them.
constexpr uint32_t kX86_64Groups[7] = {VXCRASH_ASYNC_CFE_NO_REGISTER, VXCRASH_X86_64_RBX, VXCRASH_X86_64_R12,
                                       VXCRASH_X86_64_R13, VXCRASH_X86_64_R14, VXCRASH_X86_64_R15,
                                       VXCRASH_X86_64_RBP};
constexpr uint32_t kX86Groups[7] = {VXCRASH_ASYNC_CFE_NO_REGISTER, 6, 5, 4, 8, 7, 1}; // ebx ecx edx edi esi ebp

uint32_t field(uint32_t encoding, uint32_t mask)
{
    return (encoding & mask) >> __builtin_ctz(mask);
}

// Binary search over `count` sorted function offsets for the last one not above
// `pc`; `offsetAt` answers false for an unreadable entry.
template <typename OffsetAt>
vxcrash_error_t searchSorted(uint32_t count, uint64_t pc, OffsetAt offsetAt, uint32_t* found)
{
    if (count == 0)
        return VXCRASH_STATUS_NOT_FOUND;
    int64_t low = 0;
    int64_t high = int64_t(count) - 1;
    while (low <= high) {
        const int64_t mid = (low + high) / 2;
        uint64_t offset;
        if (!offsetAt(uint32_t(mid), &offset))
            return VXCRASH_STATUS_INVALID_ARGUMENT;
        if (offset < pc) {
            uint64_t next = 0;
            if (mid == int64_t(count) - 1) {
                *found = uint32_t(mid);
                return VXCRASH_STATUS_OK;
            }
            if (!offsetAt(uint32_t(mid + 1), &next))
                return VXCRASH_STATUS_INVALID_ARGUMENT;
            if (next > pc) {
                *found = uint32_t(mid);
                return VXCRASH_STATUS_OK;
            }
            low = mid + 1;
        } else if (offset == pc) {
            *found = uint32_t(mid);
            return VXCRASH_STATUS_OK;
        } else {
            high = mid - 1;
        }
    }
    return VXCRASH_STATUS_NOT_FOUND;
}

vxcrash_error_t mapIntelRegister(int32_t cpu, uint32_t group, uint32_t* reg)
{
    if (group > 6)
        return VXCRASH_STATUS_INVALID_ARGUMENT;
    *reg = cpu == VXCRASH_CPU_TYPE_X86_64 ? kX86_64Groups[group] : kX86Groups[group];
    return VXCRASH_STATUS_OK;
}

} // namespace

vxcrash_error_t vxcrash_async_cfe_reader_init(vxcrash_async_cfe_reader* reader, const vxcrash_async_mobject* mobj,
                                              int32_t cpu_type)
{
    if (cpu_type != VXCRASH_CPU_TYPE_X86 && cpu_type != VXCRASH_CPU_TYPE_X86_64 && cpu_type != VXCRASH_CPU_TYPE_ARM64)
        return VXCRASH_STATUS_UNSUPPORTED;
    reader->mobj = mobj;
    reader->cpu_type = cpu_type;
    reader->byteorder = vxcrash_async_byteorder_little_endian();
    const auto* p = static_cast<const uint8_t*>(
        vxcrash_async_mobject_remap_address(mobj, vxcrash_async_mobject_base_address(mobj), 0, sizeof reader->header));
    if (!p)
        return VXCRASH_STATUS_INVALID_ARGUMENT;
    __builtin_memcpy(&reader->header, p, sizeof reader->header);
    if (reader->header.version != 1)
        return VXCRASH_STATUS_UNSUPPORTED;
    return VXCRASH_STATUS_OK;
}

vxcrash_error_t vxcrash_async_cfe_reader_find_pc(vxcrash_async_cfe_reader* reader, uint64_t pc,
                                                 uint64_t* function_base, uint32_t* encoding)
{
    const vxcrash_async_mobject* mobj = reader->mobj;
    const uint64_t base = vxcrash_async_mobject_base_address(mobj);
    const auto& h = reader->header;
    const auto* common = static_cast<const uint8_t*>(vxcrash_async_mobject_remap_address(
        mobj, base, h.commonEncodingsArraySectionOffset, size_t(h.commonEncodingsArrayCount) * 4));
    if (!common && h.commonEncodingsArrayCount > 0)
        return VXCRASH_STATUS_INVALID_ARGUMENT;
    if (h.indexCount == 0)
        return VXCRASH_STATUS_NOT_FOUND;
    // The last index entry only marks the end of the text.
    const uint32_t firstLevelCount = h.indexCount - 1;
    const auto* index = static_cast<const uint8_t*>(vxcrash_async_mobject_remap_address(
        mobj, base, h.indexSectionOffset, size_t(firstLevelCount) * kFirstLevelEntrySize));
    if (!index && firstLevelCount > 0)
        return VXCRASH_STATUS_INVALID_ARGUMENT;
    auto load32 = [](const uint8_t* p) {
        uint32_t v;
        __builtin_memcpy(&v, p, 4);
        return v;
    };

    uint32_t first;
    vxcrash_error_t err = searchSorted(
        firstLevelCount, pc,
        [&](uint32_t i, uint64_t* offset) {
            *offset = load32(index + size_t(i) * kFirstLevelEntrySize);
            return true;
        },
        &first);
    if (err != VXCRASH_STATUS_OK)
        return err;
    const uint8_t* entry = index + size_t(first) * kFirstLevelEntrySize;
    const uint32_t firstFunction = load32(entry);
    const uint32_t pageOffset = load32(entry + 4);

    uint32_t kind;
    if (vxcrash_async_mobject_read_uint32(mobj, reader->byteorder, base, pageOffset, &kind) != VXCRASH_STATUS_OK)
        return VXCRASH_STATUS_INVALID_ARGUMENT;
    const uint64_t page = base + pageOffset;

    if (kind == kPageRegular) {
        const auto* header = static_cast<const uint8_t*>(vxcrash_async_mobject_remap_address(mobj, page, 0, 8));
        if (!header)
            return VXCRASH_STATUS_INVALID_ARGUMENT;
        uint16_t entryOffset, entryCount;
        __builtin_memcpy(&entryOffset, header + 4, 2);
        __builtin_memcpy(&entryCount, header + 6, 2);
        const auto* entries = static_cast<const uint8_t*>(
            vxcrash_async_mobject_remap_address(mobj, page, entryOffset, size_t(entryCount) * kRegularEntrySize));
        if (!entries)
            return VXCRASH_STATUS_INVALID_ARGUMENT;
        uint32_t found;
        if ((err = searchSorted(
                 entryCount, pc,
                 [&](uint32_t i, uint64_t* offset) {
                     *offset = load32(entries + size_t(i) * kRegularEntrySize);
                     return true;
                 },
                 &found)) != VXCRASH_STATUS_OK)
            return err;
        *function_base = load32(entries + size_t(found) * kRegularEntrySize);
        *encoding = load32(entries + size_t(found) * kRegularEntrySize + 4);
        return VXCRASH_STATUS_OK;
    }

    if (kind == kPageCompressed) {
        const auto* header = static_cast<const uint8_t*>(vxcrash_async_mobject_remap_address(mobj, page, 0, 12));
        if (!header)
            return VXCRASH_STATUS_INVALID_ARGUMENT;
        uint16_t entryOffset, entryCount, encodingsOffset, encodingsCount;
        __builtin_memcpy(&entryOffset, header + 4, 2);
        __builtin_memcpy(&entryCount, header + 6, 2);
        __builtin_memcpy(&encodingsOffset, header + 8, 2);
        __builtin_memcpy(&encodingsCount, header + 10, 2);
        const auto* entries = static_cast<const uint8_t*>(
            vxcrash_async_mobject_remap_address(mobj, page, entryOffset, size_t(entryCount) * 4));
        if (!entries)
            return VXCRASH_STATUS_INVALID_ARGUMENT;
        uint32_t found;
        if ((err = searchSorted(
                 entryCount, pc,
                 [&](uint32_t i, uint64_t* offset) {
                     *offset = uint64_t(firstFunction) + (load32(entries + size_t(i) * 4) & 0x00FFFFFF);
                     return true;
                 },
                 &found)) != VXCRASH_STATUS_OK)
            return err;
        const uint32_t raw = load32(entries + size_t(found) * 4);
        *function_base = uint64_t(firstFunction) + (raw & 0x00FFFFFF);
        const uint32_t encodingIndex = raw >> 24;
        if (encodingIndex < h.commonEncodingsArrayCount) {
            *encoding = load32(common + size_t(encodingIndex) * 4);
            return VXCRASH_STATUS_OK;
        }
        const uint32_t local = encodingIndex - h.commonEncodingsArrayCount;
        if (local >= encodingsCount)
            return VXCRASH_STATUS_INVALID_ARGUMENT;
        const auto* p = static_cast<const uint8_t*>(
            vxcrash_async_mobject_remap_address(mobj, page, encodingsOffset + int64_t(local) * 4, 4));
        if (!p)
            return VXCRASH_STATUS_INVALID_ARGUMENT;
        *encoding = load32(p);
        return VXCRASH_STATUS_OK;
    }
    return VXCRASH_STATUS_INVALID_ARGUMENT;
}

void vxcrash_async_cfe_reader_free(vxcrash_async_cfe_reader*) { }

vxcrash_error_t vxcrash_async_cfe_register_decode(uint32_t permutation, uint32_t count, uint32_t registers[])
{
    if (count > 6)
        return VXCRASH_STATUS_INVALID_ARGUMENT;
    uint32_t digits[6] = {};
    uint32_t p = permutation;
    switch (count) {
    case 0: return VXCRASH_STATUS_OK;
    case 1: digits[0] = p; break;
    case 2:
        digits[0] = p / 5;
        digits[1] = p % 5;
        break;
    case 3:
        digits[0] = p / 20;
        digits[1] = (p % 20) / 4;
        digits[2] = p % 4;
        break;
    case 4:
        digits[0] = p / 60;
        digits[1] = (p % 60) / 12;
        digits[2] = (p % 60 % 12) / 3;
        digits[3] = (p % 60 % 12) % 3;
        break;
    case 5:
    case 6:
        digits[0] = p / 120;
        digits[1] = (p % 120) / 24;
        digits[2] = (p % 120 % 24) / 6;
        digits[3] = (p % 120 % 24 % 6) / 2;
        digits[4] = p % 2;
        digits[5] = 0;
        break;
    }
    bool taken[7] = {};
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t seen = 0;
        uint32_t chosen = 0;
        for (uint32_t r = 1; r <= 6; ++r) {
            if (taken[r])
                continue;
            if (seen == digits[i]) {
                chosen = r;
                break;
            }
            ++seen;
        }
        if (chosen == 0)
            return VXCRASH_STATUS_INVALID_ARGUMENT;
        taken[chosen] = true;
        registers[i] = chosen;
    }
    return VXCRASH_STATUS_OK;
}

uint32_t vxcrash_async_cfe_register_encode(const uint32_t registers[], uint32_t count)
{
    if (count == 0 || count > 6)
        return 0;
    uint32_t renumbered[6];
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t smaller = 0;
        for (uint32_t j = 0; j < i; ++j)
            if (registers[j] < registers[i])
                ++smaller;
        renumbered[i] = registers[i] - 1 - smaller;
    }
    static const uint32_t weights[7][5] = {
        {}, {1}, {5, 1}, {20, 4, 1}, {60, 12, 3, 1}, {120, 24, 6, 2, 1}, {120, 24, 6, 2, 1},
    };
    uint32_t permutation = 0;
    for (uint32_t i = 0; i < count && i < 5; ++i)
        permutation += weights[count][i] * renumbered[i];
    return permutation;
}

vxcrash_error_t vxcrash_async_cfe_entry_init(vxcrash_async_cfe_entry* entry, int32_t cpu_type, uint32_t encoding)
{
    vxcrash_async_memset(entry, 0, sizeof *entry);
    entry->cpu_type = cpu_type;
    entry->return_address_register = VXCRASH_ASYNC_CFE_NO_REGISTER;
    const uint32_t mode = field(encoding, kModeMask);

    if (cpu_type == VXCRASH_CPU_TYPE_X86_64 || cpu_type == VXCRASH_CPU_TYPE_X86) {
        const int64_t word = cpu_type == VXCRASH_CPU_TYPE_X86_64 ? 8 : 4;
        switch (mode) {
        case 0: entry->type = CFE_TYPE_NONE; return VXCRASH_STATUS_OK;
        case 1: {
            entry->type = CFE_TYPE_FRAME_POINTER;
            entry->stack_offset = -word * int64_t(field(encoding, 0x00FF0000));
            const uint32_t groups = encoding & 0x7FFF;
            for (uint32_t i = 0; i < 5 && (groups >> (3 * i)) != 0; ++i) {
                vxcrash_error_t err = mapIntelRegister(cpu_type, (groups >> (3 * i)) & 7,
                                                       &entry->register_list[entry->register_count]);
                if (err != VXCRASH_STATUS_OK)
                    return err;
                ++entry->register_count;
            }
            return VXCRASH_STATUS_OK;
        }
        case 2:
        case 3: {
            entry->type = mode == 2 ? CFE_TYPE_FRAMELESS_IMMEDIATE : CFE_TYPE_FRAMELESS_INDIRECT;
            if (mode == 2) {
                entry->stack_offset = word * int64_t(field(encoding, 0x00FF0000));
            } else {
                entry->stack_offset = int64_t(field(encoding, 0x00FF0000));
                entry->stack_adjust = uint32_t(word) * field(encoding, 0x0000E000);
            }
            const uint32_t count = field(encoding, 0x00001C00);
            uint32_t decoded[6];
            vxcrash_error_t err = vxcrash_async_cfe_register_decode(encoding & 0x3FF, count, decoded);
            if (err != VXCRASH_STATUS_OK)
                return err;
            for (uint32_t i = 0; i < count; ++i) {
                if ((err = mapIntelRegister(cpu_type, decoded[i], &entry->register_list[i])) != VXCRASH_STATUS_OK)
                    return err;
            }
            entry->register_count = count;
            return VXCRASH_STATUS_OK;
        }
        case 4:
            entry->type = CFE_TYPE_DWARF;
            entry->stack_offset = int64_t(encoding & 0x00FFFFFF);
            return VXCRASH_STATUS_OK;
        default: return VXCRASH_STATUS_UNSUPPORTED;
        }
    }

    if (cpu_type == VXCRASH_CPU_TYPE_ARM64) {
        auto savedPairs = [&]() {
            static const uint32_t pairs[5][2] = {{31, 30}, {29, 28}, {27, 26}, {25, 24}, {23, 22}};
            for (int bit = 4; bit >= 0; --bit) {
                if (encoding & (1u << bit)) {
                    entry->register_list[entry->register_count++] = pairs[4 - bit][0];
                    entry->register_list[entry->register_count++] = pairs[4 - bit][1];
                }
            }
        };
        switch (mode) {
        case 0: entry->type = CFE_TYPE_NONE; return VXCRASH_STATUS_OK;
        case 2:
            entry->type = CFE_TYPE_FRAMELESS_IMMEDIATE;
            entry->stack_offset = 16 * int64_t(field(encoding, 0x00FFF000));
            entry->return_address_register = VXCRASH_ARM64_LR;
            savedPairs();
            return VXCRASH_STATUS_OK;
        case 3:
            entry->type = CFE_TYPE_DWARF;
            entry->stack_offset = int64_t(encoding & 0x00FFFFFF);
            return VXCRASH_STATUS_OK;
        case 4:
            entry->type = CFE_TYPE_FRAME_POINTER;
            savedPairs();
            entry->stack_offset = -8 * int64_t(entry->register_count);
            return VXCRASH_STATUS_OK;
        default: return VXCRASH_STATUS_UNSUPPORTED;
        }
    }
    return VXCRASH_STATUS_UNSUPPORTED;
}

vxcrash_async_cfe_type_t vxcrash_async_cfe_entry_type(const vxcrash_async_cfe_entry* e) { return e->type; }
int64_t vxcrash_async_cfe_entry_stack_offset(const vxcrash_async_cfe_entry* e) { return e->stack_offset; }
uint32_t vxcrash_async_cfe_entry_stack_adjustment(const vxcrash_async_cfe_entry* e) { return e->stack_adjust; }
uint32_t vxcrash_async_cfe_entry_return_address_register(const vxcrash_async_cfe_entry* e)
{
    return e->return_address_register;
}
uint32_t vxcrash_async_cfe_entry_register_count(const vxcrash_async_cfe_entry* e) { return e->register_count; }
void vxcrash_async_cfe_entry_register_list(const vxcrash_async_cfe_entry* e, uint32_t* list)
{
    for (uint32_t i = 0; i < e->register_count; ++i)
        list[i] = e->register_list[i];
}
void vxcrash_async_cfe_entry_free(vxcrash_async_cfe_entry*) { }

vxcrash_error_t vxcrash_async_cfe_entry_apply(vxcrash_task_t task, uint64_t function_address,
                                              const vxcrash_async_thread_state* current,
                                              const vxcrash_async_cfe_entry* entry,
                                              vxcrash_async_thread_state* next)
{
    const size_t g = vxcrash_async_thread_state_get_greg_size(current);
    const auto* bo = vxcrash_async_byteorder_little_endian();
    vxcrash_async_thread_state result;
    vxcrash_async_thread_state_copy(&result, current);
    vxcrash_async_thread_state_clear_volatile_regs(&result);

    auto readWord = [&](uint64_t address, uint64_t* value) {
        return vxcrash::async::read_task_word<uint64_t>(task, bo, address, g, value);
    };
    uint64_t savedStart;
    vxcrash_error_t err;
    switch (entry->type) {
    case CFE_TYPE_FRAMELESS_IMMEDIATE:
    case CFE_TYPE_FRAMELESS_INDIRECT: {
        if (!vxcrash_async_thread_state_has_reg(current, VXCRASH_REG_SP))
            return VXCRASH_STATUS_NOT_FOUND;
        uint64_t stackSize = uint64_t(entry->stack_offset);
        if (entry->type == CFE_TYPE_FRAMELESS_INDIRECT) {
            uint32_t immediate;
            if ((err = vxcrash_async_task_read_uint32(task, bo, function_address, entry->stack_offset, &immediate)) !=
                VXCRASH_STATUS_OK)
                return err;
            stackSize = uint64_t(immediate) + entry->stack_adjust;
        }
        const uint64_t sp = vxcrash_async_thread_state_get_reg(current, VXCRASH_REG_SP) + stackSize;
        vxcrash_async_thread_state_set_reg(&result, VXCRASH_REG_SP, sp);
        if (entry->return_address_register == VXCRASH_ASYNC_CFE_NO_REGISTER) {
            uint64_t pc;
            if ((err = readWord(sp - g, &pc)) != VXCRASH_STATUS_OK)
                return err;
            vxcrash_async_thread_state_set_reg(&result, VXCRASH_REG_IP, pc);
            savedStart = sp - g - g * entry->register_count;
        } else {
            if (!vxcrash_async_thread_state_has_reg(current, entry->return_address_register))
                return VXCRASH_STATUS_NOT_FOUND;
            vxcrash_async_thread_state_set_reg(
                &result, VXCRASH_REG_IP, vxcrash_async_thread_state_get_reg(current, entry->return_address_register));
            savedStart = sp - g * entry->register_count;
        }
        break;
    }
    case CFE_TYPE_FRAME_POINTER: {
        if (!vxcrash_async_thread_state_has_reg(current, VXCRASH_REG_FP))
            return VXCRASH_STATUS_NOT_FOUND;
        const uint64_t fp = vxcrash_async_thread_state_get_reg(current, VXCRASH_REG_FP);
        if (UINT64_MAX - fp < 2 * g)
            return VXCRASH_STATUS_INVALID_ARGUMENT;
        uint64_t callerFp, pc;
        if ((err = readWord(fp, &callerFp)) != VXCRASH_STATUS_OK || (err = readWord(fp + g, &pc)) != VXCRASH_STATUS_OK)
            return err;
        vxcrash_async_thread_state_set_reg(&result, VXCRASH_REG_SP, fp + 2 * g);
        vxcrash_async_thread_state_set_reg(&result, VXCRASH_REG_FP, callerFp);
        vxcrash_async_thread_state_set_reg(&result, VXCRASH_REG_IP, pc);
        savedStart = fp + uint64_t(entry->stack_offset);
        break;
    }
    default:
        return VXCRASH_STATUS_UNSUPPORTED;
    }

    for (uint32_t i = 0; i < entry->register_count; ++i) {
        if (entry->register_list[i] == VXCRASH_ASYNC_CFE_NO_REGISTER)
            continue;
        uint64_t value;
        if ((err = readWord(savedStart + i * g, &value)) != VXCRASH_STATUS_OK)
            return err;
        vxcrash_async_thread_state_set_reg(&result, entry->register_list[i], value);
    }
    *next = result;
    return VXCRASH_STATUS_OK;
}
