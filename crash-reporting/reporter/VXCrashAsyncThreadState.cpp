#include "crash-reporting/reporter/VXCrashAsyncThreadState.h"

namespace {

// Pointer-authentication bits sit above the 36 address bits of 64-bit Arm
// code and stack pointers. Only 64-bit Arm states are masked: x86-64 user
// addresses use 47 bits and masking them would wreck them.
constexpr uint64_t kArm64PointerMask = 0xFFFFFFFFFULL;
constexpr uint64_t kNoDwarf = ~uint64_t(0);

const char* const kX86_64Names[VXCRASH_X86_64_REG_COUNT] = {
    "rip", "rbp", "rsp", "rax", "rbx", "rcx", "rdx", "rdi", "rsi", "r8", "r9",
    "r10", "r11", "r12", "r13", "r14", "r15", "rflags", "cs", "fs", "gs",
};
// DWARF number of each x86-64 register (the return-address column 16 has none).
const uint64_t kX86_64Dwarf[VXCRASH_X86_64_REG_COUNT] = {
    kNoDwarf, 6, 7, 0, 3, 2, 1, 5, 4, 8, 9, 10, 11, 12, 13, 14, 15, 49, 51, 54, 55,
};
const uint64_t kX86_64Callee = (1ULL << VXCRASH_X86_64_RBP) | (1ULL << VXCRASH_X86_64_RBX) |
                               (1ULL << VXCRASH_X86_64_R12) | (1ULL << VXCRASH_X86_64_R13) |
                               (1ULL << VXCRASH_X86_64_R14) | (1ULL << VXCRASH_X86_64_R15);

const char* const kArm64Names[VXCRASH_ARM64_REG_COUNT] = {
    "pc",  "fp",  "sp",  "x0",  "x1",  "x2",  "x3",  "x4",  "x5",  "x6",  "x7",  "x8",
    "x9",  "x10", "x11", "x12", "x13", "x14", "x15", "x16", "x17", "x18", "x19", "x20",
    "x21", "x22", "x23", "x24", "x25", "x26", "x27", "x28", "lr",  "cpsr",
};
// x19 to x28 and fp.
const uint64_t kArm64Callee = (((1ULL << 10) - 1) << VXCRASH_ARM64_X19) | (1ULL << VXCRASH_REG_FP);

const char* const kArmNames[VXCRASH_ARM_REG_COUNT] = {
    "pc", "r7", "sp", "r0", "r1", "r2", "r3", "r4", "r5", "r6", "r8", "r9", "r10", "r11", "r12", "lr", "cpsr",
};
// DWARF number of each 32-bit Arm register.
const uint64_t kArmDwarf[VXCRASH_ARM_REG_COUNT] = {
    15, 7, 13, 0, 1, 2, 3, 4, 5, 6, 8, 9, 10, 11, 12, 14, kNoDwarf,
};
// r4, r5, r6, r7, r8, r10, r11.
const uint64_t kArmCallee = (1ULL << 7) | (1ULL << 8) | (1ULL << 9) | (1ULL << 1) | (1ULL << 10) | (1ULL << 12) |
                            (1ULL << 13);

uint64_t* arm64Slot(vxcrash_async_thread_state* s, vxcrash_regnum_t r)
{
    auto& ts = s->arm_state.ts_64;
    switch (r) {
    case VXCRASH_REG_IP: return &ts.pc;
    case VXCRASH_REG_FP: return &ts.fp;
    case VXCRASH_REG_SP: return &ts.sp;
    case VXCRASH_ARM64_LR: return &ts.lr;
    default: return r >= VXCRASH_ARM64_X0 && r < VXCRASH_ARM64_X0 + 29 ? &ts.x[r - VXCRASH_ARM64_X0] : nullptr;
    }
}

uint32_t* armSlot(vxcrash_async_thread_state* s, vxcrash_regnum_t r)
{
    auto& ts = s->arm_state.ts_32;
    switch (r) {
    case 0: return &ts.pc;
    case 1: return &ts.r[7];
    case 2: return &ts.sp;
    case VXCRASH_ARM_LR: return &ts.lr;
    case VXCRASH_ARM_CPSR: return &ts.cpsr;
    default:
        if (r >= 3 && r <= 9)
            return &ts.r[r - 3];
        if (r >= 10 && r <= 14)
            return &ts.r[r - 10 + 8];
        return nullptr;
    }
}

uint64_t allRegs(size_t count)
{
    return count >= 64 ? ~uint64_t(0) : (uint64_t(1) << count) - 1;
}

} // namespace

vxcrash_error_t vxcrash_async_thread_state_init(vxcrash_async_thread_state* state, int32_t cpu_type)
{
    vxcrash_async_memset(state, 0, sizeof *state);
    state->cpu_type = cpu_type;
    state->stack_direction = VXCRASH_STACK_DIRECTION_DOWN;
    switch (cpu_type) {
    case VXCRASH_CPU_TYPE_ARM64:
        state->greg_size = 8;
        state->arm_state.flavor = VXCRASH_ARM_THREAD_STATE64;
        state->arm_state.count = VXCRASH_ARM_THREAD_STATE64_COUNT;
        return VXCRASH_STATUS_OK;
    case VXCRASH_CPU_TYPE_ARM:
        state->greg_size = 4;
        state->arm_state.flavor = VXCRASH_ARM_THREAD_STATE32;
        state->arm_state.count = VXCRASH_ARM_THREAD_STATE32_COUNT;
        return VXCRASH_STATUS_OK;
    case VXCRASH_CPU_TYPE_X86_64:
        state->greg_size = 8;
        return VXCRASH_STATUS_OK;
    default:
        return VXCRASH_STATUS_UNSUPPORTED;
    }
}

void vxcrash_async_thread_state_mcontext_init(vxcrash_async_thread_state* state, const mcontext_t* mctx)
{
#if defined(__x86_64__)
    vxcrash_async_thread_state_init(state, VXCRASH_CPU_TYPE_X86_64);
    const greg_t* g = mctx->gregs;
    uint64_t* r = state->x86_64_state;
    r[VXCRASH_X86_64_RIP] = uint64_t(g[REG_RIP]);
    r[VXCRASH_X86_64_RBP] = uint64_t(g[REG_RBP]);
    r[VXCRASH_X86_64_RSP] = uint64_t(g[REG_RSP]);
    r[VXCRASH_X86_64_RAX] = uint64_t(g[REG_RAX]);
    r[VXCRASH_X86_64_RBX] = uint64_t(g[REG_RBX]);
    r[VXCRASH_X86_64_RCX] = uint64_t(g[REG_RCX]);
    r[VXCRASH_X86_64_RDX] = uint64_t(g[REG_RDX]);
    r[VXCRASH_X86_64_RDI] = uint64_t(g[REG_RDI]);
    r[VXCRASH_X86_64_RSI] = uint64_t(g[REG_RSI]);
    r[VXCRASH_X86_64_R8] = uint64_t(g[REG_R8]);
    r[VXCRASH_X86_64_R9] = uint64_t(g[REG_R9]);
    r[VXCRASH_X86_64_R10] = uint64_t(g[REG_R10]);
    r[VXCRASH_X86_64_R11] = uint64_t(g[REG_R11]);
    r[VXCRASH_X86_64_R12] = uint64_t(g[REG_R12]);
    r[VXCRASH_X86_64_R13] = uint64_t(g[REG_R13]);
    r[VXCRASH_X86_64_R14] = uint64_t(g[REG_R14]);
    r[VXCRASH_X86_64_R15] = uint64_t(g[REG_R15]);
    r[VXCRASH_X86_64_RFLAGS] = uint64_t(g[REG_EFL]);
    // CSGSFS packs cs, gs and fs into 16-bit fields.
    const uint64_t csgsfs = uint64_t(g[REG_CSGSFS]);
    r[VXCRASH_X86_64_CS] = csgsfs & 0xFFFF;
    r[VXCRASH_X86_64_GS] = (csgsfs >> 16) & 0xFFFF;
    r[VXCRASH_X86_64_FS] = (csgsfs >> 32) & 0xFFFF;
    state->valid_regs = allRegs(VXCRASH_X86_64_REG_COUNT);
#elif defined(__aarch64__)
    vxcrash_arm64_thread_state_t regs = {};
    for (int i = 0; i < 29; ++i)
        regs.x[i] = mctx->regs[i];
    regs.fp = mctx->regs[29];
    regs.lr = mctx->regs[30];
    regs.sp = mctx->sp;
    regs.pc = mctx->pc;
    regs.cpsr = uint32_t(mctx->pstate);
    vxcrash_async_thread_state_arm64_mcontext_init(state, &regs);
#else
#error "No machine context conversion for this architecture"
#endif
}

void vxcrash_async_thread_state_arm64_mcontext_init(vxcrash_async_thread_state* state,
                                                    const vxcrash_arm64_thread_state_t* regs)
{
    vxcrash_async_thread_state_init(state, VXCRASH_CPU_TYPE_ARM64);
    vxcrash_async_memcpy(&state->arm_state.ts_64, regs, sizeof *regs);
    state->valid_regs = allRegs(VXCRASH_ARM64_REG_COUNT);
}

// The register block the capture routine leaves on its stack, in x86-64
// register numbers.
extern "C" vxcrash_error_t vxcrash_async_thread_state_current_stub(const uint64_t* block,
                                                                   vxcrash_async_thread_state_current_callback callback,
                                                                   void* ctx)
{
    vxcrash_async_thread_state state;
    vxcrash_async_thread_state_init(&state, VXCRASH_CPU_TYPE_X86_64);
    vxcrash_async_memcpy(state.x86_64_state, block, sizeof state.x86_64_state);
    state.valid_regs = allRegs(VXCRASH_X86_64_REG_COUNT);
    return callback(&state, ctx);
}

#if defined(__x86_64__)
// No frame of its own: the registers are stored as they are at entry, so the
// state describes the caller at the return address. The CFI keeps the routine
// unwindable for anyone walking through the callback.
asm(R"(
    .text
    .globl vxcrash_async_thread_state_current
    .type vxcrash_async_thread_state_current, @function
vxcrash_async_thread_state_current:
    .cfi_startproc
    subq $184, %rsp
    .cfi_adjust_cfa_offset 184
    movq %rbp, 8(%rsp)
    movq %rax, 24(%rsp)
    movq %rbx, 32(%rsp)
    movq %rcx, 40(%rsp)
    movq %rdx, 48(%rsp)
    movq %rdi, 56(%rsp)
    movq %rsi, 64(%rsp)
    movq %r8, 72(%rsp)
    movq %r9, 80(%rsp)
    movq %r10, 88(%rsp)
    movq %r11, 96(%rsp)
    movq %r12, 104(%rsp)
    movq %r13, 112(%rsp)
    movq %r14, 120(%rsp)
    movq %r15, 128(%rsp)
    movq 184(%rsp), %rax
    movq %rax, 0(%rsp)
    leaq 192(%rsp), %rax
    movq %rax, 16(%rsp)
    pushfq
    .cfi_adjust_cfa_offset 8
    popq %rax
    .cfi_adjust_cfa_offset -8
    movq %rax, 136(%rsp)
    movq $0, 144(%rsp)
    movq $0, 152(%rsp)
    movq $0, 160(%rsp)
    movq %rsi, %rdx
    movq %rdi, %rsi
    movq %rsp, %rdi
    call vxcrash_async_thread_state_current_stub@PLT
    addq $184, %rsp
    .cfi_adjust_cfa_offset -184
    ret
    .cfi_endproc
    .size vxcrash_async_thread_state_current, .-vxcrash_async_thread_state_current
)");
#endif

void vxcrash_async_thread_state_copy(vxcrash_async_thread_state* dest, const vxcrash_async_thread_state* source)
{
    vxcrash_async_memcpy(dest, source, sizeof *dest);
}

bool vxcrash_async_thread_state_has_reg(const vxcrash_async_thread_state* state, vxcrash_regnum_t regnum)
{
    return regnum < 64 && (state->valid_regs & (uint64_t(1) << regnum)) != 0;
}

uint64_t vxcrash_async_thread_state_get_reg(const vxcrash_async_thread_state* state, vxcrash_regnum_t regnum)
{
    auto* s = const_cast<vxcrash_async_thread_state*>(state);
    switch (state->cpu_type) {
    case VXCRASH_CPU_TYPE_X86_64:
        return regnum < VXCRASH_X86_64_REG_COUNT ? state->x86_64_state[regnum] : 0;
    case VXCRASH_CPU_TYPE_ARM64: {
        if (regnum == VXCRASH_ARM64_CPSR)
            return state->arm_state.ts_64.cpsr;
        const uint64_t* slot = arm64Slot(s, regnum);
        if (!slot)
            return 0;
        const bool pointer = regnum <= VXCRASH_REG_SP || regnum == VXCRASH_ARM64_LR;
        return pointer ? (*slot & kArm64PointerMask) : *slot;
    }
    case VXCRASH_CPU_TYPE_ARM: {
        const uint32_t* slot = armSlot(s, regnum);
        return slot ? *slot : 0;
    }
    default:
        return 0;
    }
}

void vxcrash_async_thread_state_set_reg(vxcrash_async_thread_state* state, vxcrash_regnum_t regnum, uint64_t value)
{
    switch (state->cpu_type) {
    case VXCRASH_CPU_TYPE_X86_64:
        if (regnum >= VXCRASH_X86_64_REG_COUNT)
            return;
        state->x86_64_state[regnum] = value;
        break;
    case VXCRASH_CPU_TYPE_ARM64:
        if (regnum == VXCRASH_ARM64_CPSR) {
            state->arm_state.ts_64.cpsr = uint32_t(value);
        } else if (uint64_t* slot = arm64Slot(state, regnum)) {
            *slot = value;
        } else {
            return;
        }
        break;
    case VXCRASH_CPU_TYPE_ARM:
        if (uint32_t* slot = armSlot(state, regnum))
            *slot = uint32_t(value);
        else
            return;
        break;
    default:
        return;
    }
    state->valid_regs |= uint64_t(1) << regnum;
}

void vxcrash_async_thread_state_clear_reg(vxcrash_async_thread_state* state, vxcrash_regnum_t regnum)
{
    if (regnum < 64)
        state->valid_regs &= ~(uint64_t(1) << regnum);
}

void vxcrash_async_thread_state_clear_all_regs(vxcrash_async_thread_state* state)
{
    state->valid_regs = 0;
}

void vxcrash_async_thread_state_clear_volatile_regs(vxcrash_async_thread_state* state)
{
    switch (state->cpu_type) {
    case VXCRASH_CPU_TYPE_X86_64: state->valid_regs &= kX86_64Callee; break;
    case VXCRASH_CPU_TYPE_ARM64: state->valid_regs &= kArm64Callee; break;
    case VXCRASH_CPU_TYPE_ARM: state->valid_regs &= kArmCallee; break;
    default: state->valid_regs = 0; break;
    }
}

size_t vxcrash_async_thread_state_get_reg_count(const vxcrash_async_thread_state* state)
{
    switch (state->cpu_type) {
    case VXCRASH_CPU_TYPE_X86_64: return VXCRASH_X86_64_REG_COUNT;
    case VXCRASH_CPU_TYPE_ARM64: return VXCRASH_ARM64_REG_COUNT;
    case VXCRASH_CPU_TYPE_ARM: return VXCRASH_ARM_REG_COUNT;
    default: return 0;
    }
}

const char* vxcrash_async_thread_state_get_reg_name(const vxcrash_async_thread_state* state, vxcrash_regnum_t regnum)
{
    if (regnum >= vxcrash_async_thread_state_get_reg_count(state))
        return nullptr;
    switch (state->cpu_type) {
    case VXCRASH_CPU_TYPE_X86_64: return kX86_64Names[regnum];
    case VXCRASH_CPU_TYPE_ARM64: return kArm64Names[regnum];
    default: return kArmNames[regnum];
    }
}

size_t vxcrash_async_thread_state_get_greg_size(const vxcrash_async_thread_state* state)
{
    return state->greg_size;
}

uint32_t vxcrash_async_thread_state_get_stack_direction(const vxcrash_async_thread_state* state)
{
    return state->stack_direction;
}

bool vxcrash_async_thread_state_map_reg_to_dwarf(const vxcrash_async_thread_state* state, vxcrash_regnum_t regnum,
                                                 uint64_t* dwarf_reg)
{
    uint64_t d = kNoDwarf;
    switch (state->cpu_type) {
    case VXCRASH_CPU_TYPE_X86_64:
        if (regnum < VXCRASH_X86_64_REG_COUNT)
            d = kX86_64Dwarf[regnum];
        break;
    case VXCRASH_CPU_TYPE_ARM64:
        if (regnum >= VXCRASH_ARM64_X0 && regnum < VXCRASH_ARM64_X0 + 29)
            d = regnum - VXCRASH_ARM64_X0;
        else if (regnum == VXCRASH_REG_FP)
            d = 29;
        else if (regnum == VXCRASH_ARM64_LR)
            d = 30;
        else if (regnum == VXCRASH_REG_SP)
            d = 31;
        break;
    case VXCRASH_CPU_TYPE_ARM:
        if (regnum < VXCRASH_ARM_REG_COUNT)
            d = kArmDwarf[regnum];
        break;
    default: break;
    }
    if (d == kNoDwarf)
        return false;
    *dwarf_reg = d;
    return true;
}

bool vxcrash_async_thread_state_map_dwarf_to_reg(const vxcrash_async_thread_state* state, uint64_t dwarf_reg,
                                                 vxcrash_regnum_t* regnum)
{
    const size_t count = vxcrash_async_thread_state_get_reg_count(state);
    for (vxcrash_regnum_t r = 0; r < count; ++r) {
        uint64_t d;
        if (vxcrash_async_thread_state_map_reg_to_dwarf(state, r, &d) && d == dwarf_reg) {
            *regnum = r;
            return true;
        }
    }
    return false;
}
