#include "SyntheticMachO.h"
#include "crash-reporting/reporter/VXCrashCompactUnwind.h"
#include "crash-reporting/reporter/VXCrashFrameCursor.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

constexpr uint32_t kNone = VXCRASH_ASYNC_CFE_NO_REGISTER;

struct Decoded {
    vxcrash_error_t status;
    vxcrash_async_cfe_type_t type;
    int64_t stackOffset;
    uint32_t stackAdjust;
    uint32_t returnRegister;
    std::vector<uint32_t> registers;
};

Decoded decode(int32_t cpu, uint32_t encoding)
{
    vxcrash_async_cfe_entry entry;
    Decoded d{};
    d.status = vxcrash_async_cfe_entry_init(&entry, cpu, encoding);
    if (d.status != VXCRASH_STATUS_OK)
        return d;
    d.type = vxcrash_async_cfe_entry_type(&entry);
    d.stackOffset = vxcrash_async_cfe_entry_stack_offset(&entry);
    d.stackAdjust = vxcrash_async_cfe_entry_stack_adjustment(&entry);
    d.returnRegister = vxcrash_async_cfe_entry_return_address_register(&entry);
    d.registers.resize(vxcrash_async_cfe_entry_register_count(&entry));
    vxcrash_async_cfe_entry_register_list(&entry, d.registers.data());
    return d;
}

} // namespace

TEST(VXCrashCompactUnwind, EncodingsDecodeForBothArchitectures)
{
    const uint32_t rbx = VXCRASH_X86_64_RBX, r12 = VXCRASH_X86_64_R12, r13 = VXCRASH_X86_64_R13,
                   r14 = VXCRASH_X86_64_R14, rbp = VXCRASH_X86_64_RBP;
    // Permutation 0 of three registers is groups 1, 2, 3: rbx, r12, r13.
    struct Case {
        const char* name;
        int32_t cpu;
        uint32_t encoding;
        Decoded expected;
    };
    const Case cases[] = {
        {"x86-64 none", VXCRASH_CPU_TYPE_X86_64, 0x00000000, {VXCRASH_STATUS_OK, CFE_TYPE_NONE, 0, 0, kNone, {}}},
        {"x86-64 rbp frame", VXCRASH_CPU_TYPE_X86_64, 0x01020000 | 1 | (2 << 3),
         {VXCRASH_STATUS_OK, CFE_TYPE_FRAME_POINTER, -16, 0, kNone, {rbx, r12}}},
        {"x86-64 rbp frame with an empty slot", VXCRASH_CPU_TYPE_X86_64, 0x01010000 | 1 | (0 << 3) | (4 << 6),
         {VXCRASH_STATUS_OK, CFE_TYPE_FRAME_POINTER, -8, 0, kNone, {rbx, kNone, r14}}},
        {"x86-64 rbp frame saving rbp's group", VXCRASH_CPU_TYPE_X86_64, 0x01000006,
         {VXCRASH_STATUS_OK, CFE_TYPE_FRAME_POINTER, 0, 0, kNone, {rbp}}},
        {"x86-64 frameless immediate", VXCRASH_CPU_TYPE_X86_64, 0x02030000 | (3 << 10) | 0,
         {VXCRASH_STATUS_OK, CFE_TYPE_FRAMELESS_IMMEDIATE, 24, 0, kNone, {rbx, r12, r13}}},
        {"x86-64 frameless indirect", VXCRASH_CPU_TYPE_X86_64, 0x03200000 | (2 << 13) | (1 << 10) | 1,
         {VXCRASH_STATUS_OK, CFE_TYPE_FRAMELESS_INDIRECT, 0x20, 16, kNone, {r12}}},
        {"x86-64 dwarf", VXCRASH_CPU_TYPE_X86_64, 0x04001234, {VXCRASH_STATUS_OK, CFE_TYPE_DWARF, 0x1234, 0, kNone, {}}},
        {"x86-64 unknown mode", VXCRASH_CPU_TYPE_X86_64, 0x05000000, {VXCRASH_STATUS_UNSUPPORTED, {}, 0, 0, 0, {}}},
        {"x86-64 register group 7", VXCRASH_CPU_TYPE_X86_64, 0x01000007,
         {VXCRASH_STATUS_INVALID_ARGUMENT, {}, 0, 0, 0, {}}},
        {"x86 ebp frame", VXCRASH_CPU_TYPE_X86, 0x01020000 | 1,
         {VXCRASH_STATUS_OK, CFE_TYPE_FRAME_POINTER, -8, 0, kNone, {6}}},
        {"x86 frameless immediate", VXCRASH_CPU_TYPE_X86, 0x02050000 | (1 << 10) | 5,
         {VXCRASH_STATUS_OK, CFE_TYPE_FRAMELESS_IMMEDIATE, 20, 0, kNone, {1}}},
        {"arm64 none", VXCRASH_CPU_TYPE_ARM64, 0x00000000, {VXCRASH_STATUS_OK, CFE_TYPE_NONE, 0, 0, kNone, {}}},
        {"arm64 frameless", VXCRASH_CPU_TYPE_ARM64, 0x02003000 | 0x11,
         {VXCRASH_STATUS_OK, CFE_TYPE_FRAMELESS_IMMEDIATE, 48, 0, VXCRASH_ARM64_LR, {31, 30, 23, 22}}},
        {"arm64 dwarf", VXCRASH_CPU_TYPE_ARM64, 0x03000ABC, {VXCRASH_STATUS_OK, CFE_TYPE_DWARF, 0xABC, 0, kNone, {}}},
        {"arm64 frame", VXCRASH_CPU_TYPE_ARM64, 0x04000003,
         {VXCRASH_STATUS_OK, CFE_TYPE_FRAME_POINTER, -32, 0, kNone, {25, 24, 23, 22}}},
        {"arm64 frame saving every pair", VXCRASH_CPU_TYPE_ARM64, 0x0400001F,
         {VXCRASH_STATUS_OK, CFE_TYPE_FRAME_POINTER, -80, 0, kNone, {31, 30, 29, 28, 27, 26, 25, 24, 23, 22}}},
        {"arm64 unknown mode", VXCRASH_CPU_TYPE_ARM64, 0x01000000, {VXCRASH_STATUS_UNSUPPORTED, {}, 0, 0, 0, {}}},
        {"32-bit arm", VXCRASH_CPU_TYPE_ARM, 0x04000000, {VXCRASH_STATUS_UNSUPPORTED, {}, 0, 0, 0, {}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Decoded d = decode(c.cpu, c.encoding);
        ASSERT_EQ(d.status, c.expected.status);
        if (d.status != VXCRASH_STATUS_OK)
            continue;
        EXPECT_EQ(d.type, c.expected.type);
        EXPECT_EQ(d.stackOffset, c.expected.stackOffset);
        EXPECT_EQ(d.stackAdjust, c.expected.stackAdjust);
        EXPECT_EQ(d.returnRegister, c.expected.returnRegister);
        EXPECT_EQ(d.registers, c.expected.registers);
    }
}

TEST(VXCrashCompactUnwind, RegisterPermutationsRoundTrip)
{
    uint32_t registers[6];
    ASSERT_EQ(vxcrash_async_cfe_register_decode(0, 3, registers), VXCRASH_STATUS_OK);
    EXPECT_EQ(std::vector<uint32_t>(registers, registers + 3), (std::vector<uint32_t>{1, 2, 3}));
    EXPECT_EQ(vxcrash_async_cfe_register_encode(registers, 3), 0u);

    const std::vector<std::vector<uint32_t>> orders = {
        {6}, {2, 5}, {5, 2}, {3, 1, 6}, {6, 5, 4, 3}, {2, 4, 6, 1, 3}, {6, 5, 4, 3, 2, 1}, {1, 2, 3, 4, 5, 6},
    };
    for (const auto& order : orders) {
        SCOPED_TRACE(::testing::PrintToString(order));
        const uint32_t count = uint32_t(order.size());
        const uint32_t permutation = vxcrash_async_cfe_register_encode(order.data(), count);
        ASSERT_EQ(vxcrash_async_cfe_register_decode(permutation, count, registers), VXCRASH_STATUS_OK);
        EXPECT_EQ(std::vector<uint32_t>(registers, registers + count), order);
    }
    EXPECT_EQ(vxcrash_async_cfe_register_decode(0, 7, registers), VXCRASH_STATUS_INVALID_ARGUMENT);
    EXPECT_EQ(vxcrash_async_cfe_register_encode(registers, 0), 0u);
    EXPECT_EQ(vxcrash_async_cfe_register_encode(registers, 7), 0u);
}

namespace {

// A fake stack of words at kStack.
constexpr uint64_t kStack = 0x70000000;

struct FakeStack {
    FakeStack() : region{kStack, words, sizeof words}, task{0, &region, 1} { }
    void put(uint64_t address, uint64_t value) { words[(address - kStack) / 8] = value; }
    uint64_t words[64] = {};
    vxcrash_task_region region;
    vxcrash_task task;
};

vxcrash_async_thread_state stateOf(int32_t cpu, std::initializer_list<std::pair<vxcrash_regnum_t, uint64_t>> regs)
{
    vxcrash_async_thread_state s;
    vxcrash_async_thread_state_init(&s, cpu);
    for (const auto& [r, v] : regs)
        vxcrash_async_thread_state_set_reg(&s, r, v);
    return s;
}

uint64_t reg(const vxcrash_async_thread_state& s, vxcrash_regnum_t r)
{
    EXPECT_TRUE(vxcrash_async_thread_state_has_reg(&s, r)) << r;
    return vxcrash_async_thread_state_get_reg(&s, r);
}

vxcrash_async_cfe_entry entryFor(int32_t cpu, uint32_t encoding)
{
    vxcrash_async_cfe_entry e;
    EXPECT_EQ(vxcrash_async_cfe_entry_init(&e, cpu, encoding), VXCRASH_STATUS_OK);
    return e;
}

} // namespace

TEST(VXCrashCompactUnwind, EntriesRecoverTheCaller)
{
    FakeStack stack;
    vxcrash_async_thread_state next;

    // arm64 frameless leaf: 32 bytes of stack, x20/x19 saved at its top, the
    // return address still in lr.
    const uint64_t sp = kStack + 0x40;
    stack.put(sp + 16, 0x2020);
    stack.put(sp + 24, 0x1919);
    auto leaf = stateOf(VXCRASH_CPU_TYPE_ARM64, {{VXCRASH_REG_SP, sp}, {VXCRASH_ARM64_LR, 0x100001234}});
    auto entry = entryFor(VXCRASH_CPU_TYPE_ARM64, 0x02002000 | 0x1);
    ASSERT_EQ(vxcrash_async_cfe_entry_apply(&stack.task, 0, &leaf, &entry, &next), VXCRASH_STATUS_OK);
    EXPECT_EQ(reg(next, VXCRASH_REG_IP), 0x100001234u);
    EXPECT_EQ(reg(next, VXCRASH_REG_SP), sp + 32);
    EXPECT_EQ(reg(next, 23), 0x2020u); // x20
    EXPECT_EQ(reg(next, 22), 0x1919u); // x19

    // arm64 frame: the return address is the word after the saved fp, the
    // pairs sit right below the frame record.
    const uint64_t fp = kStack + 0x100;
    stack.put(fp, kStack + 0x180);
    stack.put(fp + 8, 0x100005678);
    stack.put(fp - 16, 0x2121);
    stack.put(fp - 8, 0x2222);
    auto framed = stateOf(VXCRASH_CPU_TYPE_ARM64, {{VXCRASH_REG_FP, fp}, {VXCRASH_REG_SP, kStack}});
    entry = entryFor(VXCRASH_CPU_TYPE_ARM64, 0x04000001);
    ASSERT_EQ(vxcrash_async_cfe_entry_apply(&stack.task, 0, &framed, &entry, &next), VXCRASH_STATUS_OK);
    EXPECT_EQ(reg(next, VXCRASH_REG_IP), 0x100005678u);
    EXPECT_EQ(reg(next, VXCRASH_REG_FP), kStack + 0x180);
    EXPECT_EQ(reg(next, VXCRASH_REG_SP), fp + 16);
    EXPECT_EQ(reg(next, 23), 0x2121u);
    EXPECT_EQ(reg(next, 22), 0x2222u);

    // x86-64 frameless: 24 bytes, the return address on the stack below the
    // new sp, rbx saved under it.
    const uint64_t rsp = kStack + 0x40;
    stack.put(rsp + 16, 0x401000);
    stack.put(rsp + 8, 0xBB);
    auto x86 = stateOf(VXCRASH_CPU_TYPE_X86_64, {{VXCRASH_REG_SP, rsp}});
    entry = entryFor(VXCRASH_CPU_TYPE_X86_64, 0x02030000 | (1 << 10) | 0);
    ASSERT_EQ(vxcrash_async_cfe_entry_apply(&stack.task, 0, &x86, &entry, &next), VXCRASH_STATUS_OK);
    EXPECT_EQ(reg(next, VXCRASH_REG_IP), 0x401000u);
    EXPECT_EQ(reg(next, VXCRASH_REG_SP), rsp + 24);
    EXPECT_EQ(reg(next, VXCRASH_X86_64_RBX), 0xBBu);

    // x86-64 frameless indirect: the stack size is an immediate inside the
    // function's code (here at function + 4), plus the adjustment.
    const uint64_t function = kStack + 0x180;
    stack.put(function, uint64_t(16) << 32); // bytes 4..7: 16
    stack.put(rsp + 24, 0x402000);             // 16 + 16 bytes of stack
    entry = entryFor(VXCRASH_CPU_TYPE_X86_64, 0x03040000 | (2 << 13));
    ASSERT_EQ(vxcrash_async_cfe_entry_apply(&stack.task, function, &x86, &entry, &next), VXCRASH_STATUS_OK);
    EXPECT_EQ(reg(next, VXCRASH_REG_SP), rsp + 32);
    EXPECT_EQ(reg(next, VXCRASH_REG_IP), 0x402000u);

    // Entries without what they need, and the kinds that recover nothing.
    auto empty = stateOf(VXCRASH_CPU_TYPE_X86_64, {});
    entry = entryFor(VXCRASH_CPU_TYPE_X86_64, 0x01000000);
    EXPECT_EQ(vxcrash_async_cfe_entry_apply(&stack.task, 0, &empty, &entry, &next), VXCRASH_STATUS_NOT_FOUND);
    entry = entryFor(VXCRASH_CPU_TYPE_X86_64, 0x02010000);
    EXPECT_EQ(vxcrash_async_cfe_entry_apply(&stack.task, 0, &empty, &entry, &next), VXCRASH_STATUS_NOT_FOUND);
    entry = entryFor(VXCRASH_CPU_TYPE_X86_64, 0x04000010);
    EXPECT_EQ(vxcrash_async_cfe_entry_apply(&stack.task, 0, &x86, &entry, &next), VXCRASH_STATUS_UNSUPPORTED);
    entry = entryFor(VXCRASH_CPU_TYPE_ARM64, 0x02001000);
    auto noLr = stateOf(VXCRASH_CPU_TYPE_ARM64, {{VXCRASH_REG_SP, sp}});
    EXPECT_EQ(vxcrash_async_cfe_entry_apply(&stack.task, 0, &noLr, &entry, &next), VXCRASH_STATUS_NOT_FOUND);
    // A frame record outside the stack is a read failure, not a fault.
    auto wild = stateOf(VXCRASH_CPU_TYPE_ARM64, {{VXCRASH_REG_FP, 0x10}});
    entry = entryFor(VXCRASH_CPU_TYPE_ARM64, 0x04000000);
    EXPECT_EQ(vxcrash_async_cfe_entry_apply(&stack.task, 0, &wild, &entry, &next), VXCRASH_STATUS_NOT_FOUND);
}

namespace {

struct Function {
    uint32_t offset;
    uint32_t encoding;
};

void put32(std::vector<uint8_t>& b, size_t at, uint32_t v)
{
    if (b.size() < at + 4)
        b.resize(at + 4);
    std::memcpy(&b[at], &v, 4);
}

void put16(std::vector<uint8_t>& b, size_t at, uint16_t v)
{
    if (b.size() < at + 2)
        b.resize(at + 2);
    std::memcpy(&b[at], &v, 2);
}

// An "__unwind_info" section with one first-level entry and one page.
// Compressed pages refer to encodings by index: common ones first, then the
// page's own.
std::vector<uint8_t> unwindInfo(const std::vector<Function>& functions, uint32_t end, bool compressed,
                                const std::vector<uint32_t>& common = {},
                                const std::vector<uint32_t>& pageEncodings = {},
                                const std::vector<uint8_t>& indices = {})
{
    std::vector<uint8_t> b;
    const uint32_t commonOffset = 28;
    const uint32_t indexOffset = commonOffset + 4 * uint32_t(common.size());
    const uint32_t pageOffset = indexOffset + 24;
    put32(b, 0, 1);
    put32(b, 4, commonOffset);
    put32(b, 8, uint32_t(common.size()));
    put32(b, 12, indexOffset);
    put32(b, 16, 0);
    put32(b, 20, indexOffset);
    put32(b, 24, 2);
    for (size_t i = 0; i < common.size(); ++i)
        put32(b, commonOffset + 4 * i, common[i]);
    put32(b, indexOffset, functions.front().offset);
    put32(b, indexOffset + 4, pageOffset);
    put32(b, indexOffset + 12, end); // sentinel
    if (!compressed) {
        put32(b, pageOffset, 2);
        put16(b, pageOffset + 4, 8);
        put16(b, pageOffset + 6, uint16_t(functions.size()));
        for (size_t i = 0; i < functions.size(); ++i) {
            put32(b, pageOffset + 8 + 8 * i, functions[i].offset);
            put32(b, pageOffset + 12 + 8 * i, functions[i].encoding);
        }
    } else {
        const uint16_t encodingsOffset = uint16_t(12 + 4 * functions.size());
        put32(b, pageOffset, 3);
        put16(b, pageOffset + 4, 12);
        put16(b, pageOffset + 6, uint16_t(functions.size()));
        put16(b, pageOffset + 8, encodingsOffset);
        put16(b, pageOffset + 10, uint16_t(pageEncodings.size()));
        for (size_t i = 0; i < functions.size(); ++i)
            put32(b, pageOffset + 12 + 4 * i,
                  (uint32_t(indices[i]) << 24) | (functions[i].offset - functions.front().offset));
        for (size_t i = 0; i < pageEncodings.size(); ++i)
            put32(b, pageOffset + encodingsOffset + 4 * i, pageEncodings[i]);
    }
    return b;
}

struct Lookup {
    vxcrash_error_t status;
    uint64_t function;
    uint32_t encoding;
};

Lookup find(const std::vector<uint8_t>& section, uint64_t pc, int32_t cpu = VXCRASH_CPU_TYPE_ARM64)
{
    vxcrash_async_mobject mobj;
    EXPECT_EQ(vxcrash_async_mobject_init(&mobj, vxcrash_async_task_self(), uint64_t(uintptr_t(section.data())),
                                         section.size(), true),
              VXCRASH_STATUS_OK);
    vxcrash_async_cfe_reader reader;
    Lookup l{vxcrash_async_cfe_reader_init(&reader, &mobj, cpu), 0, 0};
    if (l.status == VXCRASH_STATUS_OK)
        l.status = vxcrash_async_cfe_reader_find_pc(&reader, pc, &l.function, &l.encoding);
    vxcrash_async_mobject_free(&mobj);
    return l;
}

} // namespace

TEST(VXCrashCompactUnwind, LookupFindsTheFunctionInRegularAndCompressedPages)
{
    const std::vector<Function> functions = {{0x1000, 0x04000001}, {0x1040, 0x02001000}, {0x10A0, 0x03000010}};
    struct Case {
        uint64_t pc;
        vxcrash_error_t status;
        uint64_t function;
        uint32_t encoding;
    };
    const Case cases[] = {
        {0x1000, VXCRASH_STATUS_OK, 0x1000, 0x04000001},   {0x103F, VXCRASH_STATUS_OK, 0x1000, 0x04000001},
        {0x1040, VXCRASH_STATUS_OK, 0x1040, 0x02001000},   {0x1050, VXCRASH_STATUS_OK, 0x1040, 0x02001000},
        {0x10F0, VXCRASH_STATUS_OK, 0x10A0, 0x03000010},   {0x0FFF, VXCRASH_STATUS_NOT_FOUND, 0, 0},
    };
    const auto regular = unwindInfo(functions, 0x1100, false);
    // The same encodings, the first two common and the third the page's own.
    const auto compressed =
        unwindInfo(functions, 0x1100, true, {0x04000001, 0x02001000}, {0x03000010}, {0, 1, 2});
    for (const auto* section : {&regular, &compressed}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(::testing::Message() << (section == &regular ? "regular " : "compressed ") << std::hex
                                              << c.pc);
            const Lookup l = find(*section, c.pc);
            ASSERT_EQ(l.status, c.status);
            if (c.status == VXCRASH_STATUS_OK) {
                EXPECT_EQ(l.function, c.function);
                EXPECT_EQ(l.encoding, c.encoding);
            }
        }
    }

    const auto badIndex = unwindInfo(functions, 0x1100, true, {0x04000001}, {0x02001000}, {0, 1, 2});
    EXPECT_EQ(find(badIndex, 0x10B0).status, VXCRASH_STATUS_INVALID_ARGUMENT);
    EXPECT_EQ(find(badIndex, 0x1050).status, VXCRASH_STATUS_OK);

    auto version2 = regular;
    version2[0] = 2;
    EXPECT_EQ(find(version2, 0x1000).status, VXCRASH_STATUS_UNSUPPORTED);
    EXPECT_EQ(find(regular, 0x1000, VXCRASH_CPU_TYPE_ARM).status, VXCRASH_STATUS_UNSUPPORTED);
    auto badKind = regular;
    badKind[28 + 24] = 7;
    EXPECT_EQ(find(badKind, 0x1000).status, VXCRASH_STATUS_INVALID_ARGUMENT);
}

TEST(VXCrashCompactUnwind, CursorUsesCompactUnwindAndFallsThroughForModeZero)
{
    // An arm64 image: `framed` (mode 4) is called by `plain` (mode 0: no
    // compact information and no DWARF, so the frame-pointer chain must do).
    SyntheticMachO image(0x100000000, 0x100000000);
    const uint64_t text = image.addSection("__TEXT", "__text", 0x200);
    const uint32_t framed = uint32_t(text - image.loadAddress());
    const uint32_t plain = framed + 0x100;
    const auto info = unwindInfo({{framed, 0x04000000}, {plain, 0}}, plain + 0x100, false);
    const uint64_t infoAddress = image.addSection("__TEXT", "__unwind_info", info.size());
    image.build();
    std::memcpy(image.at(infoAddress), info.data(), info.size());

    FakeStack stack;
    const uint64_t fp1 = kStack + 0x20;
    const uint64_t fp2 = kStack + 0x60;
    stack.put(fp1, fp2);
    stack.put(fp1 + 8, text + 0x100 + 0x10); // returns into `plain`
    stack.put(fp2, 0);
    stack.put(fp2 + 8, 0x200000); // returns somewhere outside the image

    const vxcrash_task_region regions[] = {image.region(), stack.region};
    const vxcrash_task task = {0, regions, 2};
    vxcrash_async_image_list images;
    vxcrash_nasync_image_list_init(&images, &task);
    vxcrash_nasync_image_list_append(&images, image.loadAddress(), "/usr/lib/libframes.dylib");

    auto start = stateOf(VXCRASH_CPU_TYPE_ARM64, {{VXCRASH_REG_IP, text + 0x8}, {VXCRASH_REG_FP, fp1},
                                                  {VXCRASH_REG_SP, kStack}, {VXCRASH_ARM64_LR, 0x55}});
    vxframe_cursor cursor;
    vxframe_cursor_init(&cursor, &task, &start, &images);
    std::vector<uint64_t> pcs;
    vxframe_status_t status;
    while ((status = vxframe_cursor_next(&cursor)) == VXFRAME_STATUS_OK) {
        uint64_t pc;
        vxframe_cursor_get_reg(&cursor, VXCRASH_REG_IP, &pc);
        pcs.push_back(pc);
    }
    EXPECT_EQ(pcs, (std::vector<uint64_t>{text + 0x8, text + 0x110, 0x200000}));
    EXPECT_EQ(status, VXFRAME_STATUS_NO_FRAME);

    // The compact reader alone: mode 0 gives no frame, so the cursor moves on.
    vxcrash_async_thread_state caller;
    auto inPlain = stateOf(VXCRASH_CPU_TYPE_ARM64, {{VXCRASH_REG_IP, text + 0x110}, {VXCRASH_REG_FP, fp2}});
    EXPECT_EQ(vxframe_cursor_read_compact_unwind(&task, &images, &inPlain, &start, &caller), VXFRAME_STATUS_NO_FRAME);
    EXPECT_EQ(vxframe_cursor_read_dwarf_unwind(&task, &images, &inPlain, &start, &caller), VXFRAME_STATUS_NO_FRAME);
    vxcrash_nasync_image_list_free(&images);
}
