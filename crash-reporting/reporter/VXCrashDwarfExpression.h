#pragma once

#include "crash-reporting/reporter/VXCrashAsyncThreadState.h"
#include "crash-reporting/reporter/VXCrashDwarfOpstream.h"

#include <type_traits>

// The DWARF expression stack machine of call-frame rules, over the target's
// machine word, with a fixed stack of 100 entries.

namespace vxcrash::async {

inline constexpr size_t kDwarfExpressionStackDepth = 100;

template <typename machine_ptr>
vxcrash_error_t read_task_word(vxcrash_task_t task, const vxcrash_async_byteorder* byteorder, uint64_t address,
                               size_t size, machine_ptr* result)
{
    vxcrash_error_t err;
    switch (size) {
    case 1: {
        uint8_t v = 0;
        err = vxcrash_async_task_read_uint8(task, address, 0, &v);
        *result = v;
        break;
    }
    case 2: {
        uint16_t v = 0;
        err = vxcrash_async_task_read_uint16(task, byteorder, address, 0, &v);
        *result = v;
        break;
    }
    case 4: {
        uint32_t v = 0;
        err = vxcrash_async_task_read_uint32(task, byteorder, address, 0, &v);
        *result = machine_ptr(v);
        break;
    }
    case 8: {
        uint64_t v = 0;
        err = vxcrash_async_task_read_uint64(task, byteorder, address, 0, &v);
        *result = machine_ptr(v);
        break;
    }
    default: return VXCRASH_STATUS_INVALID_ARGUMENT;
    }
    return err;
}

template <typename machine_ptr, typename machine_ptr_s>
vxcrash_error_t vxcrash_async_dwarf_expression_eval(const vxcrash_async_mobject* mobj, vxcrash_task_t task,
                                                    const vxcrash_async_thread_state* state,
                                                    const vxcrash_async_byteorder* byteorder, uint64_t address,
                                                    int64_t offset, uint64_t length, const machine_ptr* initial,
                                                    size_t initial_count, machine_ptr* result)
{
    static_assert(std::is_unsigned_v<machine_ptr> && std::is_signed_v<machine_ptr_s>);
    constexpr unsigned kBits = sizeof(machine_ptr) * 8;
    machine_ptr stack[kDwarfExpressionStackDepth];
    size_t depth = 0;
    for (size_t i = 0; i < initial_count; ++i) {
        if (depth == kDwarfExpressionStackDepth)
            return VXCRASH_STATUS_INTERNAL;
        stack[depth++] = initial[i];
    }

    dwarf_opstream ops;
    vxcrash_error_t err = ops.init(mobj, byteorder, address, offset, length);
    if (err != VXCRASH_STATUS_OK)
        return err;

    auto push = [&](machine_ptr v) {
        if (depth == kDwarfExpressionStackDepth)
            return false;
        stack[depth++] = v;
        return true;
    };
    auto registerValue = [&](uint64_t dwarfReg, machine_ptr* value) -> vxcrash_error_t {
        vxcrash_regnum_t reg;
        if (!vxcrash_async_thread_state_map_dwarf_to_reg(state, dwarfReg, &reg))
            return VXCRASH_STATUS_UNSUPPORTED;
        if (!vxcrash_async_thread_state_has_reg(state, reg))
            return VXCRASH_STATUS_NOT_FOUND;
        *value = machine_ptr(vxcrash_async_thread_state_get_reg(state, reg));
        return VXCRASH_STATUS_OK;
    };
// Operand reads and stack checks end the evaluation with their status.
#define VX_NEED(n, status) \
    if (depth < (n)) \
        return (status);
#define VX_OPERAND(expr) \
    if (!(expr)) \
        return VXCRASH_STATUS_INVALID_ARGUMENT;
#define VX_PUSH(v) \
    if (!push(v)) \
        return VXCRASH_STATUS_INTERNAL;

    while (!ops.at_end()) {
        uint8_t op;
        VX_OPERAND(ops.read_intU(&op));
        if (op >= 0x30 && op <= 0x4F) { // DW_OP_lit0..31
            VX_PUSH(machine_ptr(op - 0x30));
            continue;
        }
        if ((op >= 0x70 && op <= 0x8F) || op == 0x92) { // DW_OP_breg0..31, DW_OP_bregx
            uint64_t reg = op - 0x70;
            if (op == 0x92) {
                if ((err = ops.read_uleb128(&reg)) != VXCRASH_STATUS_OK)
                    return err;
            }
            int64_t delta;
            if ((err = ops.read_sleb128(&delta)) != VXCRASH_STATUS_OK)
                return err;
            machine_ptr value;
            if ((err = registerValue(reg, &value)) != VXCRASH_STATUS_OK)
                return err;
            VX_PUSH(machine_ptr(value + machine_ptr(delta)));
            continue;
        }
        switch (op) {
        case 0x06: { // DW_OP_deref
            VX_NEED(1, VXCRASH_STATUS_INTERNAL);
            machine_ptr v;
            if ((err = read_task_word(task, byteorder, stack[depth - 1], sizeof(machine_ptr), &v)) != VXCRASH_STATUS_OK)
                return err;
            stack[depth - 1] = v;
            break;
        }
        case 0x08: { uint8_t v; VX_OPERAND(ops.read_intU(&v)); VX_PUSH(machine_ptr(v)); break; }
        case 0x09: { uint8_t v; VX_OPERAND(ops.read_intU(&v)); VX_PUSH(machine_ptr(machine_ptr_s(int8_t(v)))); break; }
        case 0x0A: { uint16_t v; VX_OPERAND(ops.read_intU(&v)); VX_PUSH(machine_ptr(v)); break; }
        case 0x0B: { uint16_t v; VX_OPERAND(ops.read_intU(&v)); VX_PUSH(machine_ptr(machine_ptr_s(int16_t(v)))); break; }
        case 0x0C: { uint32_t v; VX_OPERAND(ops.read_intU(&v)); VX_PUSH(machine_ptr(v)); break; }
        case 0x0D: { uint32_t v; VX_OPERAND(ops.read_intU(&v)); VX_PUSH(machine_ptr(machine_ptr_s(int32_t(v)))); break; }
        case 0x0E:
        case 0x0F: { uint64_t v; VX_OPERAND(ops.read_intU(&v)); VX_PUSH(machine_ptr(v)); break; }
        case 0x10: {
            uint64_t v;
            if ((err = ops.read_uleb128(&v)) != VXCRASH_STATUS_OK)
                return err;
            VX_PUSH(machine_ptr(v));
            break;
        }
        case 0x11: {
            int64_t v;
            if ((err = ops.read_sleb128(&v)) != VXCRASH_STATUS_OK)
                return err;
            VX_PUSH(machine_ptr(v));
            break;
        }
        case 0x12: // DW_OP_dup
            VX_NEED(1, VXCRASH_STATUS_INVALID_ARGUMENT);
            if (!push(stack[depth - 1]))
                return VXCRASH_STATUS_INVALID_ARGUMENT;
            break;
        case 0x13: // DW_OP_drop
            VX_NEED(1, VXCRASH_STATUS_INVALID_ARGUMENT);
            --depth;
            break;
        case 0x14: // DW_OP_over
            VX_NEED(2, VXCRASH_STATUS_INVALID_ARGUMENT);
            VX_PUSH(stack[depth - 2]);
            break;
        case 0x15: { // DW_OP_pick
            uint8_t index;
            VX_OPERAND(ops.read_intU(&index));
            if (index >= depth)
                return VXCRASH_STATUS_INVALID_ARGUMENT;
            VX_PUSH(stack[depth - 1 - index]);
            break;
        }
        case 0x16: { // DW_OP_swap
            VX_NEED(2, VXCRASH_STATUS_INVALID_ARGUMENT);
            const machine_ptr t = stack[depth - 1];
            stack[depth - 1] = stack[depth - 2];
            stack[depth - 2] = t;
            break;
        }
        case 0x17: { // DW_OP_rot: the top moves to third place
            VX_NEED(3, VXCRASH_STATUS_INVALID_ARGUMENT);
            const machine_ptr top = stack[depth - 1];
            stack[depth - 1] = stack[depth - 2];
            stack[depth - 2] = stack[depth - 3];
            stack[depth - 3] = top;
            break;
        }
        case 0x18:   // DW_OP_xderef
        case 0x95: { // DW_OP_xderef_size
            size_t size = sizeof(machine_ptr);
            if (op == 0x95) {
                uint8_t s;
                VX_OPERAND(ops.read_intU(&s));
                if (s != 1 && s != 2 && s != 4 && s != 8)
                    return VXCRASH_STATUS_INVALID_ARGUMENT;
                size = s;
            }
            VX_NEED(2, VXCRASH_STATUS_INVALID_ARGUMENT);
            const machine_ptr at = stack[depth - 1];
            depth -= 2;
            machine_ptr v;
            if ((err = read_task_word(task, byteorder, at, size, &v)) != VXCRASH_STATUS_OK)
                return err;
            VX_PUSH(v);
            break;
        }
        case 0x19: { // DW_OP_abs
            VX_NEED(1, VXCRASH_STATUS_INTERNAL);
            const machine_ptr_s v = machine_ptr_s(stack[depth - 1]);
            stack[depth - 1] = v < 0 ? machine_ptr(0) - machine_ptr(v) : machine_ptr(v);
            break;
        }
        case 0x1F: // DW_OP_neg
            VX_NEED(1, VXCRASH_STATUS_INTERNAL);
            stack[depth - 1] = machine_ptr(0) - stack[depth - 1];
            break;
        case 0x20: // DW_OP_not
            VX_NEED(1, VXCRASH_STATUS_INTERNAL);
            stack[depth - 1] = machine_ptr(~stack[depth - 1]);
            break;
        case 0x23: { // DW_OP_plus_uconst
            VX_NEED(1, VXCRASH_STATUS_INTERNAL);
            uint64_t v;
            if ((err = ops.read_uleb128(&v)) != VXCRASH_STATUS_OK)
                return err;
            stack[depth - 1] = machine_ptr(stack[depth - 1] + machine_ptr(v));
            break;
        }
        case 0x1A: case 0x1B: case 0x1C: case 0x1D: case 0x1E: case 0x21: case 0x22:
        case 0x24: case 0x25: case 0x26: case 0x27:
        case 0x29: case 0x2A: case 0x2B: case 0x2C: case 0x2D: case 0x2E: {
            VX_NEED(2, VXCRASH_STATUS_INTERNAL);
            const machine_ptr top = stack[depth - 1];
            const machine_ptr second = stack[depth - 2];
            const unsigned shift = unsigned(top % kBits);
            machine_ptr v = 0;
            switch (op) {
            case 0x1A: v = second & top; break;
            case 0x1B:
                if (top == 0)
                    return VXCRASH_STATUS_INVALID_ARGUMENT;
                v = second / top;
                break;
            case 0x1C: v = machine_ptr(second - top); break;
            case 0x1D:
                if (top == 0)
                    return VXCRASH_STATUS_INVALID_ARGUMENT;
                v = second % top;
                break;
            case 0x1E: v = machine_ptr(second * top); break;
            case 0x21: v = second | top; break;
            case 0x22: v = machine_ptr(second + top); break;
            case 0x24: v = machine_ptr(second << shift); break;
            case 0x25: v = machine_ptr(second >> shift); break;
            case 0x26: v = machine_ptr(machine_ptr_s(second) >> shift); break;
            case 0x27: v = second ^ top; break;
            case 0x29: v = second == top; break;
            case 0x2A: v = second >= top; break;
            case 0x2B: v = second > top; break;
            case 0x2C: v = second <= top; break;
            case 0x2D: v = second < top; break;
            case 0x2E: v = second != top; break;
            }
            --depth;
            stack[depth - 1] = v;
            break;
        }
        case 0x28:   // DW_OP_bra
        case 0x2F: { // DW_OP_skip
            uint16_t raw;
            VX_OPERAND(ops.read_intU(&raw));
            bool jump = true;
            if (op == 0x28) {
                VX_NEED(1, VXCRASH_STATUS_INTERNAL);
                jump = stack[--depth] != 0;
            }
            if (jump && !ops.set_position(int64_t(ops.position()) + int16_t(raw)))
                return VXCRASH_STATUS_INVALID_ARGUMENT;
            break;
        }
        case 0x94: { // DW_OP_deref_size
            uint8_t size;
            VX_OPERAND(ops.read_intU(&size));
            if (size != 1 && size != 2 && size != 4 && size != 8)
                return VXCRASH_STATUS_INVALID_ARGUMENT;
            VX_NEED(1, VXCRASH_STATUS_INTERNAL);
            machine_ptr v;
            if ((err = read_task_word(task, byteorder, stack[depth - 1], size, &v)) != VXCRASH_STATUS_OK)
                return err;
            stack[depth - 1] = v;
            break;
        }
        case 0x96: // DW_OP_nop
            break;
        default:
            return VXCRASH_STATUS_UNSUPPORTED;
        }
    }
#undef VX_NEED
#undef VX_OPERAND
#undef VX_PUSH
    if (depth == 0)
        return VXCRASH_STATUS_INVALID_ARGUMENT;
    *result = stack[depth - 1];
    return VXCRASH_STATUS_OK;
}

} // namespace vxcrash::async
