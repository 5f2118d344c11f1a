#include "crash-reporting/reporter/VXCrashAsyncThreadState.h"

#include <gtest/gtest.h>

#include <string>

namespace {

vxcrash_async_thread_state stateFor(int32_t cpu)
{
    vxcrash_async_thread_state state;
    EXPECT_EQ(vxcrash_async_thread_state_init(&state, cpu), VXCRASH_STATUS_OK);
    return state;
}

} // namespace

TEST(VXCrashThreadState, InitialisesKnownArchitecturesOnly)
{
    vxcrash_async_thread_state state;
    EXPECT_EQ(vxcrash_async_thread_state_init(&state, 18 /* PowerPC */), VXCRASH_STATUS_UNSUPPORTED);
    struct Case {
        int32_t cpu;
        size_t greg;
        size_t count;
    };
    for (const Case& c : {Case{VXCRASH_CPU_TYPE_ARM64, 8, 34}, Case{VXCRASH_CPU_TYPE_ARM, 4, 17},
                          Case{VXCRASH_CPU_TYPE_X86_64, 8, 21}}) {
        SCOPED_TRACE(c.cpu);
        state = stateFor(c.cpu);
        EXPECT_EQ(vxcrash_async_thread_state_get_greg_size(&state), c.greg);
        EXPECT_EQ(vxcrash_async_thread_state_get_reg_count(&state), c.count);
        EXPECT_EQ(vxcrash_async_thread_state_get_stack_direction(&state), uint32_t(VXCRASH_STACK_DIRECTION_DOWN));
        EXPECT_EQ(state.valid_regs, 0u);
        EXPECT_STREQ(vxcrash_async_thread_state_get_reg_name(&state, 0), c.cpu == VXCRASH_CPU_TYPE_X86_64 ? "rip" : "pc");
    }
}

TEST(VXCrashThreadState, PointerAuthenticationBitsAreStrippedOnArm64Only)
{
    const uint64_t signedPointer = 0xAB00000123456789ULL;
    auto arm64 = stateFor(VXCRASH_CPU_TYPE_ARM64);
    for (vxcrash_regnum_t r : {0u, 1u, 2u, 32u}) {
        vxcrash_async_thread_state_set_reg(&arm64, r, signedPointer);
        EXPECT_EQ(vxcrash_async_thread_state_get_reg(&arm64, r), 0x123456789ULL) << r;
    }
    vxcrash_async_thread_state_set_reg(&arm64, VXCRASH_ARM64_X19, signedPointer);
    EXPECT_EQ(vxcrash_async_thread_state_get_reg(&arm64, VXCRASH_ARM64_X19), signedPointer);

    // An x86-64 stack address has bits above bit 35 that must survive.
    auto x86 = stateFor(VXCRASH_CPU_TYPE_X86_64);
    const uint64_t stack = 0x7FFC12345678ULL;
    for (vxcrash_regnum_t r : {0u, 1u, 2u}) {
        vxcrash_async_thread_state_set_reg(&x86, r, stack);
        EXPECT_EQ(vxcrash_async_thread_state_get_reg(&x86, r), stack) << r;
    }
}

TEST(VXCrashThreadState, ClearingVolatileRegistersKeepsCalleeSavedOnes)
{
    struct Case {
        const char* name;
        int32_t cpu;
        std::vector<vxcrash_regnum_t> kept;
    };
    const Case cases[] = {
        {"arm64", VXCRASH_CPU_TYPE_ARM64, {1, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31}},
        {"arm", VXCRASH_CPU_TYPE_ARM, {1, 7, 8, 9, 10, 12, 13}},
        {"x86-64", VXCRASH_CPU_TYPE_X86_64, {1, 4, 13, 14, 15, 16}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto state = stateFor(c.cpu);
        const size_t count = vxcrash_async_thread_state_get_reg_count(&state);
        for (vxcrash_regnum_t r = 0; r < count; ++r)
            vxcrash_async_thread_state_set_reg(&state, r, r + 100);
        vxcrash_async_thread_state_clear_volatile_regs(&state);
        std::vector<vxcrash_regnum_t> kept;
        for (vxcrash_regnum_t r = 0; r < count; ++r) {
            if (vxcrash_async_thread_state_has_reg(&state, r)) {
                kept.push_back(r);
                EXPECT_EQ(vxcrash_async_thread_state_get_reg(&state, r), r + 100u);
            }
        }
        EXPECT_EQ(kept, c.kept);
    }
}

TEST(VXCrashThreadState, DwarfNumbersMapBothWays)
{
    struct Case {
        const char* name;
        int32_t cpu;
        uint64_t dwarf;
        bool maps;
        vxcrash_regnum_t reg;
    };
    const Case cases[] = {
        {"arm64 lr", VXCRASH_CPU_TYPE_ARM64, 30, true, VXCRASH_ARM64_LR},
        {"arm64 fp", VXCRASH_CPU_TYPE_ARM64, 29, true, VXCRASH_REG_FP},
        {"arm64 sp", VXCRASH_CPU_TYPE_ARM64, 31, true, VXCRASH_REG_SP},
        {"arm64 x0", VXCRASH_CPU_TYPE_ARM64, 0, true, VXCRASH_ARM64_X0},
        {"arm pc", VXCRASH_CPU_TYPE_ARM, 15, true, VXCRASH_REG_IP},
        {"arm r7", VXCRASH_CPU_TYPE_ARM, 7, true, VXCRASH_REG_FP},
        {"arm r8", VXCRASH_CPU_TYPE_ARM, 8, true, 10},
        {"x86-64 rbp", VXCRASH_CPU_TYPE_X86_64, 6, true, VXCRASH_X86_64_RBP},
        {"x86-64 rsp", VXCRASH_CPU_TYPE_X86_64, 7, true, VXCRASH_X86_64_RSP},
        {"x86-64 rbx", VXCRASH_CPU_TYPE_X86_64, 3, true, VXCRASH_X86_64_RBX},
        {"x86-64 r15", VXCRASH_CPU_TYPE_X86_64, 15, true, VXCRASH_X86_64_R15},
        {"x86-64 return address column", VXCRASH_CPU_TYPE_X86_64, 16, false, 0},
        {"arm64 unknown", VXCRASH_CPU_TYPE_ARM64, 64, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto state = stateFor(c.cpu);
        vxcrash_regnum_t reg = 999;
        ASSERT_EQ(vxcrash_async_thread_state_map_dwarf_to_reg(&state, c.dwarf, &reg), c.maps);
        if (c.maps) {
            EXPECT_EQ(reg, c.reg);
            uint64_t back = 999;
            ASSERT_TRUE(vxcrash_async_thread_state_map_reg_to_dwarf(&state, reg, &back));
            EXPECT_EQ(back, c.dwarf);
        }
    }
    auto arm64 = stateFor(VXCRASH_CPU_TYPE_ARM64);
    uint64_t d;
    EXPECT_FALSE(vxcrash_async_thread_state_map_reg_to_dwarf(&arm64, VXCRASH_REG_IP, &d));
}

TEST(VXCrashThreadState, SignalContextAndCurrentThreadGiveLiveRegisters)
{
    ucontext_t context;
    ASSERT_EQ(getcontext(&context), 0);
    vxcrash_async_thread_state fromContext;
    vxcrash_async_thread_state_mcontext_init(&fromContext, &context.uc_mcontext);
    EXPECT_EQ(vxcrash_async_thread_state_get_reg(&fromContext, VXCRASH_REG_SP),
              uint64_t(context.uc_mcontext.gregs[REG_RSP]));
    EXPECT_EQ(vxcrash_async_thread_state_get_reg(&fromContext, VXCRASH_REG_IP),
              uint64_t(context.uc_mcontext.gregs[REG_RIP]));
    EXPECT_TRUE(vxcrash_async_thread_state_has_reg(&fromContext, VXCRASH_X86_64_GS));

    struct Seen {
        vxcrash_async_thread_state state;
        uintptr_t calleeLocal;
    } seen{};
    const vxcrash_error_t result = vxcrash_async_thread_state_current(
        [](vxcrash_async_thread_state* state, void* ctx) -> vxcrash_error_t {
            auto* s = static_cast<Seen*>(ctx);
            s->state = *state;
            s->calleeLocal = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
            return VXCRASH_STATUS_NOT_FOUND;
        },
        &seen);
    EXPECT_EQ(result, VXCRASH_STATUS_NOT_FOUND); // the callback's answer comes back
    EXPECT_EQ(seen.state.valid_regs, (uint64_t(1) << 21) - 1);
    // The captured stack pointer belongs to this frame, above the callback's.
    const uint64_t sp = vxcrash_async_thread_state_get_reg(&seen.state, VXCRASH_REG_SP);
    EXPECT_GT(sp, seen.calleeLocal);
    EXPECT_LT(sp, uint64_t(reinterpret_cast<uintptr_t>(__builtin_frame_address(0))) + 4096);
}
