#pragma once

#include "crash-reporting/reporter/VXCrashDwarfExpression.h"
#include "crash-reporting/reporter/VXCrashDwarfFrame.h"

// The rule table of DWARF call-frame information: running the CIE's and the
// FDE's instructions up to a pc builds one row, and applying that row to a
// frame's registers gives its caller's. Fixed capacities, no allocation.

namespace vxcrash::async {

enum vxcrash_dwarf_cfa_rule_type_t : uint8_t {
    CFA_RULE_UNDEFINED = 0,
    CFA_RULE_EXPRESSION = 1,
    CFA_RULE_REGISTER = 2,
    CFA_RULE_REGISTER_SIGNED = 3,
};

enum vxcrash_dwarf_cfa_reg_rule_t : uint8_t {
    REG_RULE_OFFSET = 0,
    REG_RULE_VAL_OFFSET = 1,
    REG_RULE_REGISTER = 2,
    REG_RULE_EXPRESSION = 3,
    REG_RULE_VAL_EXPRESSION = 4,
    REG_RULE_SAME_VALUE = 5,
};

template <typename machine_ptr>
struct dwarf_cfa_rule_t {
    vxcrash_dwarf_cfa_rule_type_t type;
    uint32_t reg;
    machine_ptr value; // offset (signed offsets stored in two's complement) or expression address
    uint64_t expression_length;
};

inline constexpr size_t kDwarfCfaRows = 6;
inline constexpr size_t kDwarfCfaRegisterRules = 100;
inline constexpr size_t kDwarfCfaBuckets = 14;
inline constexpr uint8_t kDwarfCfaNoEntry = 255;

template <typename machine_ptr, typename machine_ptr_s>
class dwarf_cfa_state {
public:
    struct entry {
        machine_ptr value;
        uint32_t regnum;
        vxcrash_dwarf_cfa_reg_rule_t rule;
        uint8_t next;
    };

    dwarf_cfa_state()
    {
        for (size_t i = 0; i < kDwarfCfaRegisterRules; ++i)
            entries_[i].next = i + 1 < kDwarfCfaRegisterRules ? uint8_t(i + 1) : kDwarfCfaNoEntry;
        free_ = 0;
        depth_ = 0;
        clearRow(0);
    }

    bool set_register(uint32_t regnum, vxcrash_dwarf_cfa_reg_rule_t rule, machine_ptr value)
    {
        Row& row = rows_[depth_];
        const size_t bucket = regnum % kDwarfCfaBuckets;
        for (uint8_t i = row.buckets[bucket]; i != kDwarfCfaNoEntry; i = entries_[i].next) {
            if (entries_[i].regnum == regnum) {
                entries_[i].rule = rule;
                entries_[i].value = value;
                return true;
            }
        }
        if (free_ == kDwarfCfaNoEntry)
            return false;
        const uint8_t index = free_;
        free_ = entries_[index].next;
        entries_[index] = {value, regnum, rule, kDwarfCfaNoEntry};
        // Appended at the end of the chain so iteration keeps insertion order.
        uint8_t* link = &row.buckets[bucket];
        while (*link != kDwarfCfaNoEntry)
            link = &entries_[*link].next;
        *link = index;
        ++row.count;
        return true;
    }

    bool get_register_rule(uint32_t regnum, vxcrash_dwarf_cfa_reg_rule_t* rule, machine_ptr* value) const
    {
        const Row& row = rows_[depth_];
        for (uint8_t i = row.buckets[regnum % kDwarfCfaBuckets]; i != kDwarfCfaNoEntry; i = entries_[i].next) {
            if (entries_[i].regnum == regnum) {
                *rule = entries_[i].rule;
                *value = entries_[i].value;
                return true;
            }
        }
        return false;
    }

    void remove_register(uint32_t regnum)
    {
        Row& row = rows_[depth_];
        uint8_t* link = &row.buckets[regnum % kDwarfCfaBuckets];
        while (*link != kDwarfCfaNoEntry) {
            const uint8_t i = *link;
            if (entries_[i].regnum == regnum) {
                *link = entries_[i].next;
                entries_[i].next = free_;
                free_ = i;
                --row.count;
                return;
            }
            link = &entries_[i].next;
        }
    }

    size_t get_register_count() const { return rows_[depth_].count; }

    void set_cfa_register(uint32_t regnum, machine_ptr offset)
    {
        rows_[depth_].cfa = {CFA_RULE_REGISTER, regnum, offset, 0};
    }
    void set_cfa_register_signed(uint32_t regnum, machine_ptr_s offset)
    {
        rows_[depth_].cfa = {CFA_RULE_REGISTER_SIGNED, regnum, machine_ptr(offset), 0};
    }
    void set_cfa_expression(machine_ptr address, uint64_t length)
    {
        rows_[depth_].cfa = {CFA_RULE_EXPRESSION, 0, address, length};
    }
    dwarf_cfa_rule_t<machine_ptr> get_cfa_rule() const { return rows_[depth_].cfa; }

    bool push_state()
    {
        if (depth_ + 1 >= kDwarfCfaRows)
            return false;
        const size_t below = depth_;
        ++depth_;
        clearRow(depth_);
        rows_[depth_].cfa = rows_[below].cfa;
        for (size_t b = 0; b < kDwarfCfaBuckets; ++b) {
            for (uint8_t i = rows_[below].buckets[b]; i != kDwarfCfaNoEntry; i = entries_[i].next) {
                if (!set_register(entries_[i].regnum, entries_[i].rule, entries_[i].value)) {
                    releaseRow(depth_);
                    --depth_;
                    return false;
                }
            }
        }
        return true;
    }

    bool pop_state()
    {
        if (depth_ == 0)
            return false;
        releaseRow(depth_);
        --depth_;
        return true;
    }

    // Visits the current row's rules bucket by bucket.
    template <typename Visit>
    void for_each_rule(Visit visit) const
    {
        const Row& row = rows_[depth_];
        for (size_t b = 0; b < kDwarfCfaBuckets; ++b)
            for (uint8_t i = row.buckets[b]; i != kDwarfCfaNoEntry; i = entries_[i].next)
                visit(entries_[i].regnum, entries_[i].rule, entries_[i].value);
    }

    vxcrash_error_t eval_program(const vxcrash_async_mobject* mobj, machine_ptr pc, machine_ptr initial_location,
                                 const vxcrash_async_dwarf_cie_info<machine_ptr>* cie,
                                 const gnu_ehptr_reader<machine_ptr>* reader,
                                 const vxcrash_async_byteorder* byteorder, uint64_t section_address,
                                 uint64_t offset, uint64_t length);

    vxcrash_error_t apply_state(vxcrash_task_t task, const vxcrash_async_dwarf_cie_info<machine_ptr>* cie,
                                const vxcrash_async_thread_state* current,
                                const vxcrash_async_byteorder* byteorder, vxcrash_async_thread_state* next);

private:
    struct Row {
        dwarf_cfa_rule_t<machine_ptr> cfa;
        uint8_t count;
        uint8_t buckets[kDwarfCfaBuckets];
    };

    void clearRow(size_t index)
    {
        rows_[index].cfa = {CFA_RULE_UNDEFINED, 0, 0, 0};
        rows_[index].count = 0;
        for (auto& b : rows_[index].buckets)
            b = kDwarfCfaNoEntry;
    }

    void releaseRow(size_t index)
    {
        for (auto& head : rows_[index].buckets) {
            while (head != kDwarfCfaNoEntry) {
                const uint8_t i = head;
                head = entries_[i].next;
                entries_[i].next = free_;
                free_ = i;
            }
        }
        rows_[index].count = 0;
    }

    Row rows_[kDwarfCfaRows];
    size_t depth_;
    entry entries_[kDwarfCfaRegisterRules];
    uint8_t free_;
};

template <typename machine_ptr, typename machine_ptr_s>
vxcrash_error_t dwarf_cfa_state<machine_ptr, machine_ptr_s>::eval_program(
    const vxcrash_async_mobject* mobj, machine_ptr pc, machine_ptr initial_location,
    const vxcrash_async_dwarf_cie_info<machine_ptr>* cie, const gnu_ehptr_reader<machine_ptr>* reader,
    const vxcrash_async_byteorder* byteorder, uint64_t section_address, uint64_t offset, uint64_t length)
{
    // The rules that DW_CFA_restore returns to: the row as it was on entry.
    struct Initial {
        uint32_t regnum;
        vxcrash_dwarf_cfa_reg_rule_t rule;
        machine_ptr value;
    };
    Initial initial[kDwarfCfaRegisterRules];
    size_t initialCount = 0;
    bool overflow = false;
    for_each_rule([&](uint32_t regnum, vxcrash_dwarf_cfa_reg_rule_t rule, machine_ptr value) {
        if (initialCount == kDwarfCfaRegisterRules) {
            overflow = true;
            return;
        }
        initial[initialCount++] = {regnum, rule, value};
    });
    if (overflow)
        return VXCRASH_STATUS_NO_MEMORY;

    dwarf_opstream ops;
    vxcrash_error_t err = ops.init(mobj, byteorder, section_address, int64_t(offset), length);
    if (err != VXCRASH_STATUS_OK)
        return err;

    machine_ptr location = initial_location;
    const machine_ptr code_align = machine_ptr(cie->code_alignment_factor);
    const machine_ptr_s data_align = machine_ptr_s(cie->data_alignment_factor);

    auto restore = [&](uint32_t regnum) {
        for (size_t i = 0; i < initialCount; ++i) {
            if (initial[i].regnum == regnum)
                return set_register(regnum, initial[i].rule, initial[i].value);
        }
        remove_register(regnum);
        return true;
    };
    auto readReg = [&](uint32_t* regnum) -> vxcrash_error_t {
        uint64_t r;
        const vxcrash_error_t e = ops.read_uleb128(&r);
        if (e != VXCRASH_STATUS_OK)
            return e == VXCRASH_STATUS_UNSUPPORTED ? e : VXCRASH_STATUS_INVALID_ARGUMENT;
        if (r > UINT32_MAX)
            return VXCRASH_STATUS_UNSUPPORTED;
        *regnum = uint32_t(r);
        return VXCRASH_STATUS_OK;
    };
    auto readU = [&](uint64_t* v) -> vxcrash_error_t {
        const vxcrash_error_t e = ops.read_uleb128(v);
        return e == VXCRASH_STATUS_OK || e == VXCRASH_STATUS_UNSUPPORTED ? e : VXCRASH_STATUS_INVALID_ARGUMENT;
    };
    auto readS = [&](int64_t* v) -> vxcrash_error_t {
        const vxcrash_error_t e = ops.read_sleb128(v);
        return e == VXCRASH_STATUS_OK || e == VXCRASH_STATUS_UNSUPPORTED ? e : VXCRASH_STATUS_INVALID_ARGUMENT;
    };
    auto setRule = [&](uint32_t regnum, vxcrash_dwarf_cfa_reg_rule_t rule, machine_ptr value) -> vxcrash_error_t {
        return set_register(regnum, rule, value) ? VXCRASH_STATUS_OK : VXCRASH_STATUS_NO_MEMORY;
    };
    auto cfaKeepsRegister = [&]() {
        const auto t = rows_[depth_].cfa.type;
        return t == CFA_RULE_REGISTER || t == CFA_RULE_REGISTER_SIGNED;
    };
#define VX_TRY(expr) \
    if ((err = (expr)) != VXCRASH_STATUS_OK) \
        return err;

    while (!ops.at_end() && (pc == 0 || location <= pc)) {
        uint8_t opcode;
        if (!ops.read_intU(&opcode))
            return VXCRASH_STATUS_INVALID_ARGUMENT;
        const uint8_t operand = opcode & 0x3F;
        switch (opcode & 0xC0) {
        case 0x40: // DW_CFA_advance_loc
            location = machine_ptr(location + machine_ptr(operand) * code_align);
            continue;
        case 0x80: { // DW_CFA_offset
            uint64_t off;
            VX_TRY(readU(&off));
            VX_TRY(setRule(operand, REG_RULE_OFFSET, machine_ptr(machine_ptr_s(off) * data_align)));
            continue;
        }
        case 0xC0: // DW_CFA_restore
            if (!restore(operand))
                return VXCRASH_STATUS_NO_MEMORY;
            continue;
        default: break;
        }

        switch (opcode) {
        case 0x00: break; // DW_CFA_nop
        case 0x01: {      // DW_CFA_set_loc
            if (cie->segment_size != 0)
                return VXCRASH_STATUS_UNSUPPORTED;
            uint8_t encoding = DW_EH_PE_absptr;
            if (cie->has_eh_augmentation && cie->eh_augmentation.has_pointer_encoding && reader)
                encoding = cie->eh_augmentation.pointer_encoding;
            gnu_ehptr_reader<machine_ptr> absolute(byteorder);
            const gnu_ehptr_reader<machine_ptr>* r = reader ? reader : &absolute;
            machine_ptr value;
            size_t n;
            if ((err = r->read(mobj, ops.task_address(), 0, encoding, &value, &n)) != VXCRASH_STATUS_OK)
                return err;
            if (!ops.skip(n))
                return VXCRASH_STATUS_INVALID_ARGUMENT;
            location = value;
            break;
        }
        case 0x02: {
            uint8_t d;
            if (!ops.read_intU(&d))
                return VXCRASH_STATUS_INVALID_ARGUMENT;
            location = machine_ptr(location + machine_ptr(d) * code_align);
            break;
        }
        case 0x03: {
            uint16_t d;
            if (!ops.read_intU(&d))
                return VXCRASH_STATUS_INVALID_ARGUMENT;
            location = machine_ptr(location + machine_ptr(d) * code_align);
            break;
        }
        case 0x04: {
            uint32_t d;
            if (!ops.read_intU(&d))
                return VXCRASH_STATUS_INVALID_ARGUMENT;
            location = machine_ptr(location + machine_ptr(d) * code_align);
            break;
        }
        case 0x05:   // DW_CFA_offset_extended
        case 0x14: { // DW_CFA_val_offset
            uint32_t reg;
            uint64_t off;
            VX_TRY(readReg(&reg));
            VX_TRY(readU(&off));
            VX_TRY(setRule(reg, opcode == 0x05 ? REG_RULE_OFFSET : REG_RULE_VAL_OFFSET,
                           machine_ptr(machine_ptr_s(off) * data_align)));
            break;
        }
        case 0x06: { // DW_CFA_restore_extended
            uint32_t reg;
            VX_TRY(readReg(&reg));
            if (!restore(reg))
                return VXCRASH_STATUS_NO_MEMORY;
            break;
        }
        case 0x07: { // DW_CFA_undefined
            uint32_t reg;
            VX_TRY(readReg(&reg));
            remove_register(reg);
            break;
        }
        case 0x08: { // DW_CFA_same_value
            uint32_t reg;
            VX_TRY(readReg(&reg));
            VX_TRY(setRule(reg, REG_RULE_SAME_VALUE, 0));
            break;
        }
        case 0x09: { // DW_CFA_register
            uint32_t reg;
            uint32_t reg2;
            VX_TRY(readReg(&reg));
            VX_TRY(readReg(&reg2));
            VX_TRY(setRule(reg, REG_RULE_REGISTER, reg2));
            break;
        }
        case 0x0A: // DW_CFA_remember_state
            if (!push_state())
                return VXCRASH_STATUS_NO_MEMORY;
            break;
        case 0x0B: // DW_CFA_restore_state
            if (!pop_state())
                return VXCRASH_STATUS_INVALID_ARGUMENT;
            break;
        case 0x0C: { // DW_CFA_def_cfa
            uint32_t reg;
            uint64_t off;
            VX_TRY(readReg(&reg));
            VX_TRY(readU(&off));
            set_cfa_register(reg, machine_ptr(off));
            break;
        }
        case 0x0D: { // DW_CFA_def_cfa_register
            uint32_t reg;
            VX_TRY(readReg(&reg));
            if (!cfaKeepsRegister())
                return VXCRASH_STATUS_INVALID_ARGUMENT;
            rows_[depth_].cfa.reg = reg;
            break;
        }
        case 0x0E: { // DW_CFA_def_cfa_offset
            uint64_t off;
            VX_TRY(readU(&off));
            if (!cfaKeepsRegister())
                return VXCRASH_STATUS_INVALID_ARGUMENT;
            set_cfa_register(rows_[depth_].cfa.reg, machine_ptr(off));
            break;
        }
        case 0x0F: { // DW_CFA_def_cfa_expression
            uint64_t len;
            VX_TRY(readU(&len));
            const uint64_t at = ops.task_address();
            if (!ops.skip(len))
                return VXCRASH_STATUS_INVALID_ARGUMENT;
            set_cfa_expression(machine_ptr(at), len);
            break;
        }
        case 0x10:   // DW_CFA_expression
        case 0x16: { // DW_CFA_val_expression
            uint32_t reg;
            VX_TRY(readReg(&reg));
            // The rule keeps the address of the length, so it can be re-read.
            const uint64_t at = ops.task_address();
            uint64_t len;
            VX_TRY(readU(&len));
            if (!ops.skip(len))
                return VXCRASH_STATUS_INVALID_ARGUMENT;
            VX_TRY(setRule(reg, opcode == 0x10 ? REG_RULE_EXPRESSION : REG_RULE_VAL_EXPRESSION, machine_ptr(at)));
            break;
        }
        case 0x11:   // DW_CFA_offset_extended_sf
        case 0x15: { // DW_CFA_val_offset_sf
            uint32_t reg;
            int64_t off;
            VX_TRY(readReg(&reg));
            VX_TRY(readS(&off));
            VX_TRY(setRule(reg, opcode == 0x11 ? REG_RULE_OFFSET : REG_RULE_VAL_OFFSET,
                           machine_ptr(machine_ptr_s(off) * data_align)));
            break;
        }
        case 0x12: { // DW_CFA_def_cfa_sf
            uint32_t reg;
            int64_t off;
            VX_TRY(readReg(&reg));
            VX_TRY(readS(&off));
            set_cfa_register_signed(reg, machine_ptr_s(off) * data_align);
            break;
        }
        case 0x13: { // DW_CFA_def_cfa_offset_sf
            int64_t off;
            VX_TRY(readS(&off));
            if (!cfaKeepsRegister())
                return VXCRASH_STATUS_INVALID_ARGUMENT;
            set_cfa_register_signed(rows_[depth_].cfa.reg, machine_ptr_s(off) * data_align);
            break;
        }
        case 0x2E: { // DW_CFA_GNU_args_size: only matters to exception handling
            uint64_t size;
            VX_TRY(readU(&size));
            break;
        }
        default:
            return VXCRASH_STATUS_UNSUPPORTED;
        }
    }
#undef VX_TRY
    return VXCRASH_STATUS_OK;
}

template <typename machine_ptr, typename machine_ptr_s>
vxcrash_error_t dwarf_cfa_state<machine_ptr, machine_ptr_s>::apply_state(
    vxcrash_task_t task, const vxcrash_async_dwarf_cie_info<machine_ptr>* cie,
    const vxcrash_async_thread_state* current, const vxcrash_async_byteorder* byteorder,
    vxcrash_async_thread_state* next)
{
    vxcrash_async_thread_state result;
    vxcrash_async_thread_state_copy(&result, current);
    vxcrash_async_thread_state_clear_volatile_regs(&result);

    // Runs the length-prefixed expression at `address` with `initial` on the stack.
    auto runExpression = [&](uint64_t address, uint64_t length, const machine_ptr* initial, size_t count,
                             machine_ptr* value) -> vxcrash_error_t {
        if (length == 0)
            return VXCRASH_STATUS_INVALID_ARGUMENT;
        vxcrash_async_mobject mobj;
        vxcrash_error_t e = vxcrash_async_mobject_init(&mobj, task, address, length, true);
        if (e != VXCRASH_STATUS_OK)
            return e;
        e = vxcrash_async_dwarf_expression_eval<machine_ptr, machine_ptr_s>(&mobj, task, current, byteorder, address,
                                                                            0, length, initial, count, value);
        vxcrash_async_mobject_free(&mobj);
        return e;
    };

    const dwarf_cfa_rule_t<machine_ptr> cfaRule = get_cfa_rule();
    machine_ptr cfa = 0;
    switch (cfaRule.type) {
    case CFA_RULE_REGISTER:
    case CFA_RULE_REGISTER_SIGNED: {
        vxcrash_regnum_t reg;
        if (!vxcrash_async_thread_state_map_dwarf_to_reg(current, cfaRule.reg, &reg))
            return VXCRASH_STATUS_UNSUPPORTED;
        if (!vxcrash_async_thread_state_has_reg(current, reg))
            return VXCRASH_STATUS_NOT_FOUND;
        cfa = machine_ptr(machine_ptr(vxcrash_async_thread_state_get_reg(current, reg)) + cfaRule.value);
        break;
    }
    case CFA_RULE_EXPRESSION: {
        const vxcrash_error_t e = runExpression(cfaRule.value, cfaRule.expression_length, nullptr, 0, &cfa);
        if (e != VXCRASH_STATUS_OK)
            return e;
        break;
    }
    default:
        return VXCRASH_STATUS_INVALID_ARGUMENT;
    }
    vxcrash_async_thread_state_set_reg(&result, VXCRASH_REG_SP, cfa);

    const size_t greg = vxcrash_async_thread_state_get_greg_size(current);
    vxcrash_regnum_t raReg;
    const bool raMaps =
        vxcrash_async_thread_state_map_dwarf_to_reg(current, cie->return_address_register, &raReg);
    bool havePc = false;
    vxcrash_error_t err = VXCRASH_STATUS_OK;
    for_each_rule([&](uint32_t dwarfReg, vxcrash_dwarf_cfa_reg_rule_t rule, machine_ptr value) {
        if (err != VXCRASH_STATUS_OK)
            return;
        vxcrash_regnum_t target;
        const bool isReturnAddress = dwarfReg == cie->return_address_register;
        if (!vxcrash_async_thread_state_map_dwarf_to_reg(current, dwarfReg, &target)) {
            // A register this state does not model (a vector register, say)
            // cannot matter to the caller's frame; only the return address can.
            if (!isReturnAddress)
                return;
            target = VXCRASH_REG_IP;
        }
        machine_ptr v = 0;
        switch (rule) {
        case REG_RULE_OFFSET:
            err = read_task_word(task, byteorder, machine_ptr(cfa + value), greg, &v);
            break;
        case REG_RULE_VAL_OFFSET:
            v = machine_ptr(cfa + value);
            break;
        case REG_RULE_REGISTER: {
            vxcrash_regnum_t source;
            if (!vxcrash_async_thread_state_map_dwarf_to_reg(current, value, &source))
                err = VXCRASH_STATUS_INVALID_ARGUMENT;
            else if (!vxcrash_async_thread_state_has_reg(current, source))
                err = VXCRASH_STATUS_NOT_FOUND;
            else
                v = machine_ptr(vxcrash_async_thread_state_get_reg(current, source));
            break;
        }
        case REG_RULE_EXPRESSION:
        case REG_RULE_VAL_EXPRESSION: {
            uint64_t length;
            size_t n;
            err = vxcrash_async_dwarf_read_task_uleb128(task, value, 0, &length, &n);
            if (err != VXCRASH_STATUS_OK)
                break;
            machine_ptr computed;
            err = runExpression(uint64_t(value) + n, length, &cfa, 1, &computed);
            if (err != VXCRASH_STATUS_OK)
                break;
            if (rule == REG_RULE_EXPRESSION)
                err = read_task_word(task, byteorder, computed, greg, &v);
            else
                v = computed;
            break;
        }
        case REG_RULE_SAME_VALUE:
            if (!vxcrash_async_thread_state_has_reg(current, target))
                err = VXCRASH_STATUS_NOT_FOUND;
            else
                v = machine_ptr(vxcrash_async_thread_state_get_reg(current, target));
            break;
        }
        if (err != VXCRASH_STATUS_OK)
            return;
        vxcrash_async_thread_state_set_reg(&result, target, v);
        if (isReturnAddress) {
            if (target != VXCRASH_REG_IP)
                vxcrash_async_thread_state_set_reg(&result, VXCRASH_REG_IP, v);
            havePc = true;
        }
    });
    if (err != VXCRASH_STATUS_OK)
        return err;

    if (!havePc) {
        // A leaf keeps its return address in a register (lr on Arm).
        if (!raMaps || !vxcrash_async_thread_state_has_reg(current, raReg))
            return VXCRASH_STATUS_INVALID_ARGUMENT;
        vxcrash_async_thread_state_set_reg(&result, VXCRASH_REG_IP,
                                           vxcrash_async_thread_state_get_reg(current, raReg));
    }
    *next = result;
    return VXCRASH_STATUS_OK;
}

} // namespace vxcrash::async
