#pragma once

#include "crash-reporting/reporter/VXCrashAsync.h"

#include <ucontext.h>

// The register set of one thread, with a mask of the registers whose values
// are known. Register numbers 0, 1 and 2 are the instruction, frame and stack
// pointers on every architecture; the others follow the tables in the .cpp and
// map to and from DWARF register numbers. Everything here is async-safe.

enum : int32_t {
    VXCRASH_CPU_TYPE_X86 = 7,
    VXCRASH_CPU_TYPE_X86_64 = 0x1000007,
    VXCRASH_CPU_TYPE_ARM = 12,
    VXCRASH_CPU_TYPE_ARM64 = 0x100000C,
};

typedef uint32_t vxcrash_regnum_t;
enum : vxcrash_regnum_t {
    VXCRASH_REG_IP = 0,
    VXCRASH_REG_FP = 1,
    VXCRASH_REG_SP = 2,
};

// x86-64 numbers (the compact-unwind register groups use the same ones).
enum : vxcrash_regnum_t {
    VXCRASH_X86_64_RIP = 0, VXCRASH_X86_64_RBP, VXCRASH_X86_64_RSP, VXCRASH_X86_64_RAX, VXCRASH_X86_64_RBX,
    VXCRASH_X86_64_RCX, VXCRASH_X86_64_RDX, VXCRASH_X86_64_RDI, VXCRASH_X86_64_RSI, VXCRASH_X86_64_R8,
    VXCRASH_X86_64_R9, VXCRASH_X86_64_R10, VXCRASH_X86_64_R11, VXCRASH_X86_64_R12, VXCRASH_X86_64_R13,
    VXCRASH_X86_64_R14, VXCRASH_X86_64_R15, VXCRASH_X86_64_RFLAGS, VXCRASH_X86_64_CS, VXCRASH_X86_64_FS,
    VXCRASH_X86_64_GS, VXCRASH_X86_64_REG_COUNT
};

// 64-bit Arm: 3 to 31 are x0 to x28.
enum : vxcrash_regnum_t {
    VXCRASH_ARM64_X0 = 3,
    VXCRASH_ARM64_X19 = 22,
    VXCRASH_ARM64_LR = 32,
    VXCRASH_ARM64_CPSR = 33,
    VXCRASH_ARM64_REG_COUNT = 34,
};

// 32-bit Arm.
enum : vxcrash_regnum_t {
    VXCRASH_ARM_LR = 15,
    VXCRASH_ARM_CPSR = 16,
    VXCRASH_ARM_REG_COUNT = 17,
};

enum : uint32_t {
    VXCRASH_ARM_THREAD_STATE64 = 6,
    VXCRASH_ARM_THREAD_STATE64_COUNT = 68,
    VXCRASH_ARM_THREAD_STATE32 = 9,
    VXCRASH_ARM_THREAD_STATE32_COUNT = 17,
};

enum : uint32_t {
    VXCRASH_STACK_DIRECTION_UP = 1,
    VXCRASH_STACK_DIRECTION_DOWN = 2,
};

// The 64-bit Arm register block of a machine context.
struct vxcrash_arm64_thread_state_t {
    uint64_t x[29];
    uint64_t fp;
    uint64_t lr;
    uint64_t sp;
    uint64_t pc;
    uint32_t cpsr;
    uint32_t pad;
};

struct vxcrash_arm32_thread_state_t {
    uint32_t r[13];
    uint32_t sp;
    uint32_t lr;
    uint32_t pc;
    uint32_t cpsr;
};

struct vxcrash_async_thread_state {
    int32_t cpu_type;
    uint32_t stack_direction;
    uint32_t greg_size;
    uint64_t valid_regs;
    struct {
        uint32_t flavor;
        uint32_t count;
        union {
            vxcrash_arm64_thread_state_t ts_64;
            vxcrash_arm32_thread_state_t ts_32;
        };
    } arm_state;
    uint64_t x86_64_state[VXCRASH_X86_64_REG_COUNT];
};

typedef vxcrash_error_t (*vxcrash_async_thread_state_current_callback)(vxcrash_async_thread_state* state, void* ctx);

// An empty state (no register valid) for 64-bit Arm, 32-bit Arm or x86-64.
vxcrash_error_t vxcrash_async_thread_state_init(vxcrash_async_thread_state* state, int32_t cpu_type);
// The host's machine context as a signal handler receives it; every register valid.
void vxcrash_async_thread_state_mcontext_init(vxcrash_async_thread_state* state, const mcontext_t* mctx);
// A 64-bit Arm register block; every register valid.
void vxcrash_async_thread_state_arm64_mcontext_init(vxcrash_async_thread_state* state,
                                                    const vxcrash_arm64_thread_state_t* regs);
// Captures the calling thread as it is at the call (pc: the return address into
// the caller, sp and the callee-saved registers as the caller has them) and
// calls `callback` while the caller's frames are still live.
extern "C" vxcrash_error_t vxcrash_async_thread_state_current(vxcrash_async_thread_state_current_callback callback,
                                                              void* ctx);

void vxcrash_async_thread_state_copy(vxcrash_async_thread_state* dest, const vxcrash_async_thread_state* source);
bool vxcrash_async_thread_state_has_reg(const vxcrash_async_thread_state* state, vxcrash_regnum_t regnum);
uint64_t vxcrash_async_thread_state_get_reg(const vxcrash_async_thread_state* state, vxcrash_regnum_t regnum);
void vxcrash_async_thread_state_set_reg(vxcrash_async_thread_state* state, vxcrash_regnum_t regnum, uint64_t value);
void vxcrash_async_thread_state_clear_reg(vxcrash_async_thread_state* state, vxcrash_regnum_t regnum);
void vxcrash_async_thread_state_clear_all_regs(vxcrash_async_thread_state* state);
void vxcrash_async_thread_state_clear_volatile_regs(vxcrash_async_thread_state* state);
size_t vxcrash_async_thread_state_get_reg_count(const vxcrash_async_thread_state* state);
const char* vxcrash_async_thread_state_get_reg_name(const vxcrash_async_thread_state* state, vxcrash_regnum_t regnum);
size_t vxcrash_async_thread_state_get_greg_size(const vxcrash_async_thread_state* state);
uint32_t vxcrash_async_thread_state_get_stack_direction(const vxcrash_async_thread_state* state);
bool vxcrash_async_thread_state_map_reg_to_dwarf(const vxcrash_async_thread_state* state, vxcrash_regnum_t regnum,
                                                 uint64_t* dwarf_reg);
bool vxcrash_async_thread_state_map_dwarf_to_reg(const vxcrash_async_thread_state* state, uint64_t dwarf_reg,
                                                 vxcrash_regnum_t* regnum);
