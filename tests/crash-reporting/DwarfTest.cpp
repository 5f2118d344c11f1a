#include "SyntheticMachO.h"
#include "crash-reporting/reporter/VXCrashDwarfCfaState.h"
#include "crash-reporting/reporter/VXCrashFrameCursor.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

using namespace vxcrash::async;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes uleb(uint64_t v)
{
    Bytes out;
    do {
        uint8_t b = v & 0x7F;
        v >>= 7;
        out.push_back(v ? (b | 0x80) : b);
    } while (v);
    return out;
}

Bytes sleb(int64_t v)
{
    Bytes out;
    for (;;) {
        uint8_t b = v & 0x7F;
        v >>= 7;
        const bool done = (v == 0 && !(b & 0x40)) || (v == -1 && (b & 0x40));
        out.push_back(done ? b : (b | 0x80));
        if (done)
            return out;
    }
}

Bytes cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes u32(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }
Bytes u64(uint64_t v) { return cat({u32(uint32_t(v)), u32(uint32_t(v >> 32))}); }

// Bytes held in this process's memory, with a memory object over them.
class Mapped {
public:
    explicit Mapped(Bytes bytes) : bytes_(std::move(bytes))
    {
        if (bytes_.empty())
            bytes_.push_back(0); // a memory object needs one byte; length stays as asked
        ok_ = vxcrash_async_mobject_init(&mobj_, vxcrash_async_task_self(), address(), bytes_.size(), true) ==
              VXCRASH_STATUS_OK;
        EXPECT_TRUE(ok_);
    }
    ~Mapped()
    {
        if (ok_)
            vxcrash_async_mobject_free(&mobj_);
    }
    uint64_t address() const { return uint64_t(uintptr_t(bytes_.data())); }
    const vxcrash_async_mobject* mobj() const { return &mobj_; }

private:
    Bytes bytes_;
    vxcrash_async_mobject mobj_{};
    bool ok_ = false;
};

vxcrash_async_thread_state x86State()
{
    vxcrash_async_thread_state state;
    vxcrash_async_thread_state_init(&state, VXCRASH_CPU_TYPE_X86_64);
    return state;
}

struct EvalResult {
    vxcrash_error_t status;
    uint64_t value;
};

EvalResult evaluate(const Bytes& expression, std::vector<uint64_t> initial = {},
                    const vxcrash_async_thread_state* state = nullptr)
{
    Mapped m(expression);
    const auto fallback = x86State();
    uint64_t value = 0;
    const auto status = vxcrash_async_dwarf_expression_eval<uint64_t, int64_t>(
        m.mobj(), vxcrash_async_task_self(), state ? state : &fallback, vxcrash_async_byteorder_little_endian(),
        m.address(), 0, expression.size(), initial.data(), initial.size(), &value);
    return {status, value};
}

} // namespace

TEST(VXCrashDwarf, Leb128DecodingBoundsAndSignExtension)
{
    struct Case {
        const char* name;
        Bytes bytes;
        vxcrash_error_t status;
        uint64_t unsignedValue;
        int64_t signedValue;
        size_t size;
    };
    const Case cases[] = {
        {"one byte", {0x02}, VXCRASH_STATUS_OK, 2, 2, 1},
        {"negative one", {0x7F}, VXCRASH_STATUS_OK, 0x7F, -1, 1},
        {"two bytes", {0x80, 0x01}, VXCRASH_STATUS_OK, 128, 128, 2},
        {"-128", {0x80, 0x7F}, VXCRASH_STATUS_OK, 0x3F80, -128, 2},
        {"ten bytes", {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01}, VXCRASH_STATUS_OK, ~uint64_t(0),
         -1, 10},
        {"eleven bytes", {0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x00}, VXCRASH_STATUS_UNSUPPORTED,
         0, 0, 0},
        {"truncated", {0x80, 0x80}, VXCRASH_STATUS_INVALID_ARGUMENT, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Mapped m(c.bytes);
        uint64_t u = 0;
        int64_t s = 0;
        size_t size = 0;
        ASSERT_EQ(vxcrash_async_dwarf_read_uleb128(m.mobj(), m.address(), 0, &u, &size), c.status);
        if (c.status == VXCRASH_STATUS_OK) {
            EXPECT_EQ(u, c.unsignedValue);
            EXPECT_EQ(size, c.size);
        }
        ASSERT_EQ(vxcrash_async_dwarf_read_sleb128(m.mobj(), m.address(), 0, &s, &size), c.status);
        if (c.status == VXCRASH_STATUS_OK) {
            EXPECT_EQ(s, c.signedValue);
        }
    }
}

TEST(VXCrashDwarf, ExpressionsEvaluateOnAWordStack)
{
    uint64_t memory = 0x1122334455667788ULL;
    const uint64_t at = uint64_t(uintptr_t(&memory));
    auto state = x86State();
    vxcrash_async_thread_state_set_reg(&state, VXCRASH_X86_64_RSP, 0x7000);
    const uint8_t lit0 = 0x30, lit1 = 0x31, lit2 = 0x32, lit3 = 0x33;
    struct Case {
        const char* name;
        Bytes expression;
        std::vector<uint64_t> initial;
        vxcrash_error_t status;
        uint64_t value;
    };
    const Case cases[] = {
        {"minus wraps", {lit2, lit3, 0x1C}, {}, VXCRASH_STATUS_OK, ~uint64_t(0)},
        {"division by zero", {lit1, lit0, 0x1B}, {}, VXCRASH_STATUS_INVALID_ARGUMENT, 0},
        {"modulo by zero", {lit1, lit0, 0x1D}, {}, VXCRASH_STATUS_INVALID_ARGUMENT, 0},
        {"unsigned division", cat({{0x0E}, u64(~uint64_t(0) - 1), {lit2, 0x1B}}), {}, VXCRASH_STATUS_OK,
         (~uint64_t(0) - 1) / 2},
        {"shr fills zeros", cat({{0x0E}, u64(0x8000000000000000ULL), {0x08, 63, 0x25}}), {}, VXCRASH_STATUS_OK, 1},
        {"shra copies the sign", cat({{0x0E}, u64(0x8000000000000000ULL), {0x08, 63, 0x26}}), {}, VXCRASH_STATUS_OK,
         ~uint64_t(0)},
        {"shl count modulo width", {lit1, 0x08, 65, 0x24}, {}, VXCRASH_STATUS_OK, 2},
        {"signed constants", {0x09, 0xFF, 0x0B, 0xFE, 0xFF, 0x22}, {}, VXCRASH_STATUS_OK, uint64_t(-3)},
        {"consts and abs", cat({{0x11}, sleb(-42), {0x19}}), {}, VXCRASH_STATUS_OK, 42},
        {"plus_uconst on the initial entry", cat({{0x23}, uleb(300)}), {1000}, VXCRASH_STATUS_OK, 1300},
        {"rot then pick", {lit1, lit2, lit3, 0x17, 0x15, 2}, {}, VXCRASH_STATUS_OK, 3},
        {"rot moves the top to third place", {lit1, lit2, lit3, 0x17, 0x13, 0x13}, {}, VXCRASH_STATUS_OK, 3},
        {"over", {lit1, lit2, 0x14}, {}, VXCRASH_STATUS_OK, 1},
        {"comparisons are unsigned", {lit1, 0x11, 0x7F, 0x2D}, {}, VXCRASH_STATUS_OK, 1},
        {"breg of rsp", cat({{0x77}, sleb(-16)}), {}, VXCRASH_STATUS_OK, 0x7000 - 16},
        {"bregx of rsp", cat({{0x92}, uleb(7), sleb(8)}), {}, VXCRASH_STATUS_OK, 0x7008},
        {"breg of the return-address column", {0x80, 0x00}, {}, VXCRASH_STATUS_UNSUPPORTED, 0},
        {"breg of an unknown register value", {0x76, 0x00}, {}, VXCRASH_STATUS_NOT_FOUND, 0},
        {"deref", cat({{0x0E}, u64(at), {0x06}}), {}, VXCRASH_STATUS_OK, memory},
        {"deref_size 2", cat({{0x0E}, u64(at), {0x94, 2}}), {}, VXCRASH_STATUS_OK, 0x7788},
        {"deref_size 3", cat({{0x0E}, u64(at), {0x94, 3}}), {}, VXCRASH_STATUS_INVALID_ARGUMENT, 0},
        {"deref of an unmapped address", {lit0, 0x06}, {}, VXCRASH_STATUS_NOT_FOUND, 0},
        {"xderef", cat({{lit0, 0x0E}, u64(at), {0x18}}), {}, VXCRASH_STATUS_OK, memory},
        {"bra taken", {lit1, 0x28, 1, 0, lit3, lit2}, {}, VXCRASH_STATUS_OK, 2},
        {"bra not taken", {lit0, 0x28, 1, 0, lit3}, {}, VXCRASH_STATUS_OK, 3},
        {"skip backwards out of range", {0x2F, 0xF0, 0xFF}, {}, VXCRASH_STATUS_INVALID_ARGUMENT, 0},
        {"comparison result", {lit3, lit2, 0x2B}, {}, VXCRASH_STATUS_OK, 1},
        {"dup of nothing", {0x12}, {}, VXCRASH_STATUS_INVALID_ARGUMENT, 0},
        {"plus with one entry", {lit1, 0x22}, {}, VXCRASH_STATUS_INTERNAL, 0},
        {"pick beyond the depth", {lit1, 0x15, 1}, {}, VXCRASH_STATUS_INVALID_ARGUMENT, 0},
        {"truncated operand", {0x0C, 0x01}, {}, VXCRASH_STATUS_INVALID_ARGUMENT, 0},
        {"DW_OP_addr is not supported", cat({{0x03}, u64(at)}), {}, VXCRASH_STATUS_UNSUPPORTED, 0},
        {"empty stack at the end", {lit1, 0x13}, {}, VXCRASH_STATUS_INVALID_ARGUMENT, 0},
        {"nop", {lit1, 0x96}, {}, VXCRASH_STATUS_OK, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto r = evaluate(c.expression, c.initial, &state);
        EXPECT_EQ(r.status, c.status);
        if (c.status == VXCRASH_STATUS_OK) {
            EXPECT_EQ(r.value, c.value);
        }
    }

    Bytes full(100, lit1);
    EXPECT_EQ(evaluate(full).status, VXCRASH_STATUS_OK);
    full.push_back(lit1);
    EXPECT_EQ(evaluate(full).status, VXCRASH_STATUS_INTERNAL);
    full.pop_back();
    full.push_back(0x12);
    EXPECT_EQ(evaluate(full).status, VXCRASH_STATUS_INVALID_ARGUMENT);
    EXPECT_EQ(evaluate({lit1}, std::vector<uint64_t>(101, 1)).status, VXCRASH_STATUS_INTERNAL);
}

namespace {

// An .eh_frame section built from CIEs and FDEs; offsets let FDEs point back
// at their CIE.
class EhFrame {
public:
    // A CIE with the given augmentation, factors and return-address column.
    size_t addCie(const std::string& augmentation, Bytes augmentationData, Bytes instructions, uint8_t version = 1,
                  int64_t dataAlign = -8, uint64_t returnRegister = 16)
    {
        Bytes body = cat({u32(0), {version}});
        body.insert(body.end(), augmentation.begin(), augmentation.end());
        body.push_back(0);
        if (version == 4)
            body = cat({body, {8, 0}}); // address and segment sizes
        body = cat({body, uleb(1), sleb(dataAlign), uleb(returnRegister)});
        if (!augmentation.empty() && augmentation[0] == 'z')
            body = cat({body, uleb(augmentationData.size()), augmentationData});
        return addEntry(cat({body, instructions}));
    }

    // An FDE for [start, start + range), `start` counted from the section's
    // address, with pc-relative sdata4 addresses when `pcrel`, absolute 8-byte
    // ones otherwise.
    size_t addFde(size_t cie, uint64_t start, uint64_t range, Bytes instructions, bool zAugmentation = true,
                  Bytes augmentationData = {}, bool pcrel = false)
    {
        fdes_.push_back({bytes_.size(), cie, start, range, std::move(instructions), zAugmentation,
                         std::move(augmentationData), pcrel});
        // Reserve now; the bytes are written once the section's address is known.
        const size_t length = 4 + (pcrel ? 8 : 16) + (zAugmentation ? 1 + fdes_.back().augmentation.size() : 0) +
                              fdes_.back().instructions.size();
        bytes_.resize(bytes_.size() + 4 + length);
        return fdes_.back().offset;
    }

    void terminate() { bytes_.resize(bytes_.size() + 4); }

    // The finished section. The FDEs are written into the bytes that get
    // mapped (moving a vector keeps its buffer), so pc-relative fields are right.
    std::unique_ptr<Mapped> map()
    {
        Bytes out = bytes_;
        const uint64_t base = uint64_t(uintptr_t(out.data()));
        for (const Fde& f : fdes_) {
            Bytes body = u32(uint32_t(f.offset + 4 - f.cie));
            if (f.pcrel) {
                const uint64_t field = base + f.offset + 8;
                body = cat({body, u32(uint32_t(int32_t(int64_t(base + f.start) - int64_t(field)))),
                            u32(uint32_t(f.range))});
            } else {
                body = cat({body, u64(base + f.start), u64(f.range)});
            }
            if (f.z)
                body = cat({body, uleb(f.augmentation.size()), f.augmentation});
            body = cat({body, f.instructions});
            const Bytes entry = cat({u32(uint32_t(body.size())), body});
            std::memcpy(out.data() + f.offset, entry.data(), entry.size());
        }
        auto mapped = std::make_unique<Mapped>(std::move(out));
        EXPECT_EQ(mapped->address(), base);
        return mapped;
    }

private:
    struct Fde {
        size_t offset;
        size_t cie;
        uint64_t start;
        uint64_t range;
        Bytes instructions;
        bool z;
        Bytes augmentation;
        bool pcrel;
    };

    size_t addEntry(const Bytes& body)
    {
        const size_t offset = bytes_.size();
        const Bytes entry = cat({u32(uint32_t(body.size())), body});
        bytes_.insert(bytes_.end(), entry.begin(), entry.end());
        return offset;
    }

    Bytes bytes_;
    std::vector<Fde> fdes_;
};

using CfaState = dwarf_cfa_state<uint64_t, int64_t>;
using Cie = vxcrash_async_dwarf_cie_info<uint64_t>;
using Fde = vxcrash_async_dwarf_fde_info<uint64_t>;

// Runs `instructions` as a CIE's initial program.
vxcrash_error_t run(CfaState* state, const Bytes& instructions, uint64_t pc = 0)
{
    Mapped m(instructions);
    Cie cie{};
    cie.code_alignment_factor = 1;
    cie.data_alignment_factor = -8;
    cie.return_address_register = 16;
    return state->eval_program(m.mobj(), pc, 0, &cie, nullptr, vxcrash_async_byteorder_little_endian(), m.address(),
                               0, instructions.size());
}

std::optional<std::pair<vxcrash_dwarf_cfa_reg_rule_t, uint64_t>> ruleOf(const CfaState& state, uint32_t reg)
{
    vxcrash_dwarf_cfa_reg_rule_t rule;
    uint64_t value;
    if (!state.get_register_rule(reg, &rule, &value))
        return std::nullopt;
    return std::make_pair(rule, value);
}

} // namespace

TEST(VXCrashDwarf, CfaProgramsBuildTheRuleRow)
{
    CfaState state;
    // def_cfa rsp+8; rip at cfa-8; advance 4; def_cfa_offset 16; rbp at cfa-16;
    // remember; def_cfa_offset 64; restore_state.
    ASSERT_EQ(run(&state, cat({{0x0C, 7, 8, 0x90, 1, 0x44, 0x0E, 16, 0x86, 2, 0x0A, 0x0E, 64, 0x0B}})),
              VXCRASH_STATUS_OK);
    EXPECT_EQ(state.get_cfa_rule().type, CFA_RULE_REGISTER);
    EXPECT_EQ(state.get_cfa_rule().reg, 7u);
    EXPECT_EQ(state.get_cfa_rule().value, 16u);
    EXPECT_EQ(ruleOf(state, 16), std::make_pair(REG_RULE_OFFSET, uint64_t(-8)));
    EXPECT_EQ(ruleOf(state, 6), std::make_pair(REG_RULE_OFFSET, uint64_t(-16)));
    EXPECT_EQ(state.get_register_count(), 2u);

    // Stopping at a pc before the advance keeps the row of that location.
    CfaState early;
    ASSERT_EQ(run(&early, {0x0C, 7, 8, 0x44, 0x0E, 16}, 2), VXCRASH_STATUS_OK);
    EXPECT_EQ(early.get_cfa_rule().value, 8u);

    struct Case {
        const char* name;
        Bytes program;
        vxcrash_error_t status;
    };
    const Case cases[] = {
        {"sixth remember_state", {0x0A, 0x0A, 0x0A, 0x0A, 0x0A, 0x0A}, VXCRASH_STATUS_NO_MEMORY},
        {"five remember_state", {0x0A, 0x0A, 0x0A, 0x0A, 0x0A}, VXCRASH_STATUS_OK},
        {"restore_state with nothing remembered", {0x0B}, VXCRASH_STATUS_INVALID_ARGUMENT},
        {"def_cfa_offset without a register rule", {0x0E, 8}, VXCRASH_STATUS_INVALID_ARGUMENT},
        {"def_cfa_register after an expression", {0x0F, 1, 0x30, 0x0D, 7}, VXCRASH_STATUS_INVALID_ARGUMENT},
        {"GNU_args_size is a no-op", cat({{0x0C, 7, 8, 0x2E}, uleb(300)}), VXCRASH_STATUS_OK},
        {"vendor opcode", {0x1D}, VXCRASH_STATUS_UNSUPPORTED},
        {"register above 32 bits", cat({{0x07}, uleb(uint64_t(1) << 33)}), VXCRASH_STATUS_UNSUPPORTED},
        {"truncated operand", {0x05, 1}, VXCRASH_STATUS_INVALID_ARGUMENT},
        {"expression running past the end", {0x10, 3, 5, 0x30}, VXCRASH_STATUS_INVALID_ARGUMENT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CfaState s;
        EXPECT_EQ(run(&s, c.program), c.status);
    }

    // More than 100 registers with rules overflow the table.
    Bytes many;
    for (uint32_t reg = 0; reg < 101; ++reg)
        many = cat({many, {0x08}, uleb(reg)});
    CfaState full;
    EXPECT_EQ(run(&full, many), VXCRASH_STATUS_NO_MEMORY);
}

TEST(VXCrashDwarf, RestoreReturnsToTheInitialRules)
{
    CfaState state;
    // The CIE's program gives rbx (3) a rule; the FDE's program changes it,
    // adds r12 (12), then restores both.
    ASSERT_EQ(run(&state, {0x0C, 7, 8, 0x83, 2}), VXCRASH_STATUS_OK);
    ASSERT_EQ(run(&state, {0x83, 4, 0x8C, 3, 0x06, 12, 0xC3}), VXCRASH_STATUS_OK);
    EXPECT_EQ(ruleOf(state, 3), std::make_pair(REG_RULE_OFFSET, uint64_t(-16)));
    EXPECT_FALSE(ruleOf(state, 12));
    EXPECT_EQ(state.get_register_count(), 1u);

    // Each rule kind is stored as read.
    CfaState kinds;
    ASSERT_EQ(run(&kinds, cat({{0x0C, 7, 8, 0x14, 1, 2, 0x09, 2, 3, 0x08, 4, 0x11, 5}, sleb(-1), {0x16, 6, 1, 0x30}})),
              VXCRASH_STATUS_OK);
    EXPECT_EQ(ruleOf(kinds, 1), std::make_pair(REG_RULE_VAL_OFFSET, uint64_t(-16)));
    EXPECT_EQ(ruleOf(kinds, 2), std::make_pair(REG_RULE_REGISTER, uint64_t(3)));
    EXPECT_EQ(ruleOf(kinds, 4)->first, REG_RULE_SAME_VALUE);
    EXPECT_EQ(ruleOf(kinds, 5), std::make_pair(REG_RULE_OFFSET, uint64_t(8)));
    EXPECT_EQ(ruleOf(kinds, 6)->first, REG_RULE_VAL_EXPRESSION);
    ASSERT_EQ(run(&kinds, {0x07, 4}), VXCRASH_STATUS_OK);
    EXPECT_FALSE(ruleOf(kinds, 4));
}

TEST(VXCrashDwarf, CiesAndFdesParseAndCoverTheirRange)
{
    EhFrame frame;
    // zPLR: personality as absolute udata8, LSDA encoding, FDE pointers pc-relative sdata4.
    const size_t zplr = frame.addCie("zPLR", cat({{0x04}, u64(0xABCDEF), {0x1B, 0x1B}}), {0x0C, 7, 8, 0x90, 1});
    const size_t plain = frame.addCie("", {}, {0x0C, 7, 8, 0x90, 1});
    const size_t withLsda = frame.addFde(zplr, 0x1000, 0x100, {0x44, 0x0E, 16}, true, u32(0xDEAD), true);
    frame.addFde(plain, 0x1100, 0x80, {0x0E, 24}, false);
    frame.terminate();
    auto mapped = frame.map();
    const uint64_t start = mapped->address() + 0x1000;
    const auto* bo = vxcrash_async_byteorder_little_endian();

    gnu_ehptr_reader<uint64_t> reader(bo);
    Cie cie;
    ASSERT_EQ(vxcrash_async_dwarf_cie_info_init(&cie, mapped->mobj(), bo, &reader, mapped->address() + zplr),
              VXCRASH_STATUS_OK);
    EXPECT_TRUE(cie.has_eh_augmentation);
    EXPECT_TRUE(cie.eh_augmentation.has_personality_address);
    EXPECT_EQ(cie.eh_augmentation.personality_address, 0xABCDEFu);
    EXPECT_EQ(cie.eh_augmentation.lsda_encoding, 0x1B);
    EXPECT_EQ(cie.eh_augmentation.pointer_encoding, 0x1B);
    EXPECT_EQ(cie.data_alignment_factor, -8);
    EXPECT_EQ(cie.return_address_register, 16u);
    EXPECT_EQ(cie.initial_instructions_length, 5u);

    dwarf_frame_reader<uint64_t> frames;
    frames.init(mapped->mobj(), bo, true, false);
    Fde fde;
    ASSERT_EQ(frames.find_fde(0, start, &fde), VXCRASH_STATUS_OK);
    EXPECT_EQ(fde.pc_start, start);
    EXPECT_EQ(fde.pc_end, start + 0x100);
    EXPECT_EQ(fde.cie_offset, zplr);
    // The LSDA pointer in the augmentation data is skipped.
    EXPECT_EQ(fde.instructions_offset, withLsda + 4 + 4 + 8 + 1 + 4);
    EXPECT_EQ(fde.instructions_length, 3u);
    ASSERT_EQ(frames.find_fde(0, start + 0xFF, &fde), VXCRASH_STATUS_OK);
    EXPECT_EQ(fde.pc_start, start);
    ASSERT_EQ(frames.find_fde(0, start + 0x100, &fde), VXCRASH_STATUS_OK); // pc_end belongs to the next FDE
    EXPECT_EQ(fde.pc_start, start + 0x100);
    EXPECT_EQ(frames.find_fde(0, start + 0x180, &fde), VXCRASH_STATUS_NOT_FOUND);
    EXPECT_EQ(frames.find_fde(0, start - 1, &fde), VXCRASH_STATUS_NOT_FOUND);

    // The two programs together give the row at a pc.
    CfaState state;
    ASSERT_EQ(frames.find_fde(0, start + 8, &fde), VXCRASH_STATUS_OK);
    ASSERT_EQ(state.eval_program(mapped->mobj(), start + 8, fde.pc_start, &cie, &reader, bo, mapped->address(),
                                 cie.initial_instructions_offset, cie.initial_instructions_length),
              VXCRASH_STATUS_OK);
    ASSERT_EQ(state.eval_program(mapped->mobj(), start + 8, fde.pc_start, &cie, &reader, bo, mapped->address(),
                                 fde.instructions_offset, fde.instructions_length),
              VXCRASH_STATUS_OK);
    EXPECT_EQ(state.get_cfa_rule().value, 16u);
}

TEST(VXCrashDwarf, MalformedCiesAreRefused)
{
    struct Case {
        const char* name;
        std::string augmentation;
        uint8_t version;
        vxcrash_error_t status;
    };
    const Case cases[] = {
        {"version 2", "", 2, VXCRASH_STATUS_INVALID_ARGUMENT},
        {"version 3", "", 3, VXCRASH_STATUS_OK},
        {"version 4", "", 4, VXCRASH_STATUS_OK},
        {"augmentation not starting with z", "eh", 1, VXCRASH_STATUS_UNSUPPORTED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EhFrame frame;
        const size_t cie = frame.addCie(c.augmentation, {}, {}, c.version);
        auto mapped = frame.map();
        gnu_ehptr_reader<uint64_t> reader(vxcrash_async_byteorder_little_endian());
        Cie info;
        EXPECT_EQ(vxcrash_async_dwarf_cie_info_init(&info, mapped->mobj(), vxcrash_async_byteorder_little_endian(),
                                                    &reader, mapped->address() + cie),
                  c.status);
    }
    // A CIE whose length runs past the section.
    Mapped overlong(cat({u32(0x1000), u32(0), {1, 0}}));
    gnu_ehptr_reader<uint64_t> reader(vxcrash_async_byteorder_little_endian());
    Cie info;
    EXPECT_EQ(vxcrash_async_dwarf_cie_info_init(&info, overlong.mobj(), vxcrash_async_byteorder_little_endian(),
                                                &reader, overlong.address()),
              VXCRASH_STATUS_INVALID_ARGUMENT);
}

TEST(VXCrashDwarf, PointerEncodingsDecode)
{
    const auto* bo = vxcrash_async_byteorder_little_endian();
    uint64_t target = 0xFEEDFACE;
    Mapped m(cat({u32(uint32_t(-8)), {0, 0, 0, 0}, u64(uint64_t(uintptr_t(&target))), uleb(300), {0x7E}}));
    gnu_ehptr_reader<uint64_t> reader(bo);
    uint64_t v;
    size_t n;
    ASSERT_EQ(reader.read(m.mobj(), m.address(), 0, DW_EH_PE_pcrel | DW_EH_PE_sdata4, &v, &n), VXCRASH_STATUS_OK);
    EXPECT_EQ(v, m.address() - 8);
    EXPECT_EQ(n, 4u);
    ASSERT_EQ(reader.read(m.mobj(), m.address(), 8, DW_EH_PE_indirect | DW_EH_PE_absptr, &v, &n), VXCRASH_STATUS_OK);
    EXPECT_EQ(v, 0xFEEDFACEu);
    ASSERT_EQ(reader.read(m.mobj(), m.address(), 16, DW_EH_PE_uleb128, &v, &n), VXCRASH_STATUS_OK);
    EXPECT_EQ(v, 300u);
    EXPECT_EQ(n, 2u);
    ASSERT_EQ(reader.read(m.mobj(), m.address(), 18, DW_EH_PE_sleb128, &v, &n), VXCRASH_STATUS_OK);
    EXPECT_EQ(v, uint64_t(-2));
    EXPECT_EQ(reader.read(m.mobj(), m.address(), 0, DW_EH_PE_omit, &v, &n), VXCRASH_STATUS_NOT_FOUND);
    EXPECT_EQ(reader.read(m.mobj(), m.address(), 0, DW_EH_PE_datarel | DW_EH_PE_udata4, &v, &n),
              VXCRASH_STATUS_UNSUPPORTED);
    EXPECT_EQ(reader.read(m.mobj(), m.address(), 0, 0x60 | DW_EH_PE_udata4, &v, &n), VXCRASH_STATUS_UNSUPPORTED);
    EXPECT_EQ(reader.read(m.mobj(), m.address(), 0, 0x07, &v, &n), VXCRASH_STATUS_UNSUPPORTED);
    reader.set_data_base(0x1000);
    ASSERT_EQ(reader.read(m.mobj(), m.address(), 4, DW_EH_PE_datarel | DW_EH_PE_udata4, &v, &n), VXCRASH_STATUS_OK);
    EXPECT_EQ(v, 0x1000u);
    // Aligned: padding up to the next word of the section's virtual address.
    reader.set_frame_section_base(m.address(), 0x2000);
    ASSERT_EQ(reader.read(m.mobj(), m.address(), 4, DW_EH_PE_aligned, &v, &n), VXCRASH_STATUS_OK);
    EXPECT_EQ(n, 12u);
    EXPECT_EQ(v, uint64_t(uintptr_t(&target)));
}

TEST(VXCrashDwarf, ApplyingTheRowRecoversTheCallersRegisters)
{
    // A frame of x86-64 code: cfa = rsp + 16, return address at cfa - 8, rbp at
    // cfa - 16, a rule for xmm0 (17) that the state does not model, and rbx
    // computed by an expression from the cfa.
    uint64_t stack[4] = {0, 0x1111, 0x401234, 0};
    const uint64_t sp = uint64_t(uintptr_t(&stack[1]));
    const Bytes program = cat({{0x0C, 7, 16, 0x90, 1, 0x86, 2, 0x11, 17}, sleb(-3), {0x16, 3, 2, 0x23, 5}});
    Mapped m(program);
    CfaState state;
    Cie cie{};
    cie.code_alignment_factor = 1;
    cie.data_alignment_factor = -8;
    cie.return_address_register = 16;
    ASSERT_EQ(state.eval_program(m.mobj(), 0, 0, &cie, nullptr, vxcrash_async_byteorder_little_endian(), m.address(),
                                 0, program.size()),
              VXCRASH_STATUS_OK);
    auto current = x86State();
    vxcrash_async_thread_state_set_reg(&current, VXCRASH_X86_64_RSP, sp);
    vxcrash_async_thread_state_set_reg(&current, VXCRASH_X86_64_RIP, 0x400000);
    vxcrash_async_thread_state_set_reg(&current, VXCRASH_X86_64_RAX, 77);
    vxcrash_async_thread_state caller;
    ASSERT_EQ(state.apply_state(vxcrash_async_task_self(), &cie, &current, vxcrash_async_byteorder_little_endian(),
                                &caller),
              VXCRASH_STATUS_OK);
    EXPECT_EQ(vxcrash_async_thread_state_get_reg(&caller, VXCRASH_REG_SP), sp + 16);
    EXPECT_EQ(vxcrash_async_thread_state_get_reg(&caller, VXCRASH_REG_IP), 0x401234u);
    EXPECT_EQ(vxcrash_async_thread_state_get_reg(&caller, VXCRASH_REG_FP), 0x1111u);
    EXPECT_EQ(vxcrash_async_thread_state_get_reg(&caller, VXCRASH_X86_64_RBX), sp + 16 + 5);
    // Volatile registers do not survive into the caller.
    EXPECT_FALSE(vxcrash_async_thread_state_has_reg(&caller, VXCRASH_X86_64_RAX));

    // On 64-bit Arm a leaf without a return-address rule returns through lr.
    vxcrash_async_thread_state arm;
    vxcrash_async_thread_state_init(&arm, VXCRASH_CPU_TYPE_ARM64);
    vxcrash_async_thread_state_set_reg(&arm, VXCRASH_REG_SP, 0x8000);
    vxcrash_async_thread_state_set_reg(&arm, VXCRASH_ARM64_LR, 0x1000400);
    CfaState leaf;
    const Bytes leafProgram = {0x0C, 31, 0};
    Mapped lm(leafProgram);
    Cie armCie{};
    armCie.code_alignment_factor = 4;
    armCie.data_alignment_factor = -8;
    armCie.return_address_register = 30;
    ASSERT_EQ(leaf.eval_program(lm.mobj(), 0, 0, &armCie, nullptr, vxcrash_async_byteorder_little_endian(),
                                lm.address(), 0, leafProgram.size()),
              VXCRASH_STATUS_OK);
    ASSERT_EQ(leaf.apply_state(vxcrash_async_task_self(), &armCie, &arm, vxcrash_async_byteorder_little_endian(),
                               &caller),
              VXCRASH_STATUS_OK);
    EXPECT_EQ(vxcrash_async_thread_state_get_reg(&caller, VXCRASH_REG_IP), 0x1000400u);
    EXPECT_EQ(vxcrash_async_thread_state_get_reg(&caller, VXCRASH_REG_SP), 0x8000u);

    // Without a CFA rule nothing can be recovered.
    CfaState empty;
    EXPECT_EQ(empty.apply_state(vxcrash_async_task_self(), &cie, &current, vxcrash_async_byteorder_little_endian(),
                                &caller),
              VXCRASH_STATUS_INVALID_ARGUMENT);
}

TEST(VXCrashDwarf, CallerWhoseCallEndsItsFunctionUnwindsByTheCallsRules)
{
    // Two x86-64 functions back to back: `a` (cfa = rsp + 16) ends with a call
    // to a function that does not return, so its return address is the first
    // byte of `b` (cfa = rsp + 8).
    SyntheticMachO image(0x10000000, 0x10000000);
    image.setCpu(VXCRASH_CPU_TYPE_X86_64, 3);
    const uint64_t text = image.addSection("__TEXT", "__text", 0x20);
    const Bytes cieBody = cat({u32(0), {1, 0}, uleb(1), sleb(-8), uleb(16), {0x0C, 7, 8, 0x90, 1}});
    const Bytes cie = cat({u32(uint32_t(cieBody.size())), cieBody});
    auto fde = [&](size_t at, uint64_t start, Bytes instructions) {
        const Bytes body = cat({u32(uint32_t(at + 4)), u64(start), u64(0x10), instructions});
        return cat({u32(uint32_t(body.size())), body});
    };
    const Bytes fdeA = fde(cie.size(), text, {0x0E, 16});
    const Bytes fdeB = fde(cie.size() + fdeA.size(), text + 0x10, {});
    const Bytes section = cat({cie, fdeA, fdeB, u32(0)});
    const uint64_t ehFrame = image.addSection("__TEXT", "__eh_frame", section.size());
    image.build();
    std::memcpy(image.at(ehFrame), section.data(), section.size());

    uint64_t stack[4] = {0xBBBB, 0xAAAA, 0, 0};
    const uint64_t sp = 0x7fff0000;
    const vxcrash_task_region regions[] = {image.region(), {sp, stack, sizeof stack}};
    const vxcrash_task task = {0, regions, 2};
    vxcrash_async_image_list images;
    vxcrash_nasync_image_list_init(&images, &task);
    vxcrash_nasync_image_list_append(&images, image.loadAddress(), "/usr/lib/libnoreturn.dylib");

    vxcrash_async_thread_state frame = x86State();
    vxcrash_async_thread_state_set_reg(&frame, VXCRASH_REG_IP, text + 0x10);
    vxcrash_async_thread_state_set_reg(&frame, VXCRASH_REG_SP, sp);
    vxcrash_async_thread_state callee = frame;
    vxcrash_async_thread_state caller;

    // As a caller's frame (it has a callee) the return address belongs to `a`.
    ASSERT_EQ(vxframe_cursor_read_dwarf_unwind(&task, &images, &frame, &callee, &caller), VXFRAME_STATUS_OK);
    EXPECT_EQ(vxcrash_async_thread_state_get_reg(&caller, VXCRASH_REG_IP), 0xAAAAu);
    EXPECT_EQ(vxcrash_async_thread_state_get_reg(&caller, VXCRASH_REG_SP), sp + 16);
    // As the first frame the pc is where the thread stopped: inside `b`.
    ASSERT_EQ(vxframe_cursor_read_dwarf_unwind(&task, &images, &frame, nullptr, &caller), VXFRAME_STATUS_OK);
    EXPECT_EQ(vxcrash_async_thread_state_get_reg(&caller, VXCRASH_REG_IP), 0xBBBBu);
    EXPECT_EQ(vxcrash_async_thread_state_get_reg(&caller, VXCRASH_REG_SP), sp + 8);
    vxcrash_nasync_image_list_free(&images);
}
