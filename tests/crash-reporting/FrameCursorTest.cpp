#include "UnwindChain.h"
#include "crash-reporting/reporter/VXCrashAsyncSymbols.h"
#include "crash-reporting/reporter/VXCrashFrameCursor.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <unwind.h>

#include <string>
#include <vector>

namespace {

constexpr size_t kMaxFrames = 64;

struct Walk {
    vxcrash_async_image_list* images;
    std::vector<uint64_t> dwarf;   // return addresses from our DWARF walk
    std::vector<uint64_t> libgcc;  // the same from _Unwind_Backtrace
    std::vector<std::string> names;
    vxframe_status_t end = VXFRAME_STATUS_OK;
};

_Unwind_Reason_Code collect(struct _Unwind_Context* context, void* arg)
{
    auto* pcs = static_cast<std::vector<uint64_t>*>(arg);
    pcs->push_back(_Unwind_GetIP(context));
    return pcs->size() < kMaxFrames ? _URC_NO_REASON : _URC_END_OF_STACK;
}

void recordName(uint64_t, const char* name, void* ctx)
{
    *static_cast<std::string*>(ctx) = name;
}

// Runs inside the capture, while the chain's frames are live.
vxcrash_error_t walkFromHere(vxcrash_async_thread_state* state, void* ctx)
{
    auto* walk = static_cast<Walk*>(ctx);
    vxframe_cursor cursor;
    vxframe_cursor_init(&cursor, vxcrash_async_task_self(), state, walk->images);
    const vxframe_cursor_frame_reader_t dwarfOnly[] = {vxframe_cursor_read_dwarf_unwind};
    vxcrash_async_symbol_cache cache;
    vxcrash_async_symbol_cache_init(&cache);
    while (walk->dwarf.size() < kMaxFrames) {
        walk->end = vxframe_cursor_next_with_readers(&cursor, dwarfOnly, 1);
        if (walk->end != VXFRAME_STATUS_OK)
            break;
        uint64_t pc = 0;
        vxframe_cursor_get_reg(&cursor, VXCRASH_REG_IP, &pc);
        walk->dwarf.push_back(pc);
        // Return addresses are looked up one byte back, inside the call.
        std::string name;
        vxcrash_async_image_list_set_reading(walk->images, true);
        if (auto* image = vxcrash_async_image_containing_address(walk->images, pc - 1))
            vxcrash_async_find_symbol(image, VXCRASH_ASYNC_SYMBOL_STRATEGY_SYMBOL_TABLE, &cache, pc - 1, recordName,
                                      &name);
        vxcrash_async_image_list_set_reading(walk->images, false);
        walk->names.push_back(name);
    }
    vxcrash_async_symbol_cache_free(&cache);
    vxframe_cursor_free(&cursor);
    _Unwind_Backtrace(collect, &walk->libgcc);
    return VXCRASH_STATUS_OK;
}

} // namespace

TEST(VXCrashFrameCursor, DwarfWalkThroughOptimisedChainMatchesUnwindBacktrace)
{
    vxcrash_async_image_list images;
    vxcrash_nasync_image_list_init(&images, vxcrash_async_task_self());
    vxcrash_nasync_image_list_add_loaded_images(&images);
    Walk walk{&images, {}, {}, {}};
    UnwindChainProbe probe{walkFromHere, &walk};
    vx_chain_level1(&probe);
    vxcrash_nasync_image_list_free(&images);

    ASSERT_GE(walk.dwarf.size(), 7u) << "walk ended with " << vxframe_strerror(walk.end);
    // _Unwind_Backtrace starts inside the callback; find our first frame in it
    // and compare from there on.
    size_t start = 0;
    while (start < walk.libgcc.size() && walk.libgcc[start] != walk.dwarf[0])
        ++start;
    ASSERT_LT(start, walk.libgcc.size()) << "the captured pc is not on the libgcc stack";
    const size_t common = std::min(walk.dwarf.size(), walk.libgcc.size() - start);
    ASSERT_GE(common, 7u);
    for (size_t i = 0; i < common; ++i)
        EXPECT_EQ(walk.dwarf[i], walk.libgcc[start + i]) << "frame " << i;

    const char* const chain[] = {"vx_chain_level6", "vx_chain_level5", "vx_chain_level4",
                                 "vx_chain_level3", "vx_chain_level2", "vx_chain_level1"};
    for (size_t i = 0; i < 6; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(walk.names[i].rfind(chain[i], 0), 0u) << walk.names[i];
    }
    // The frame after the chain is this test.
    EXPECT_NE(walk.names[6].find("DwarfWalkThroughOptimisedChain"), std::string::npos) << walk.names[6];
}

TEST(VXCrashFrameCursor, FullWalkFromTheCurrentThreadReachesTheBottom)
{
    // With every unwinder in its order the walk ends cleanly where the stack
    // ends, well past this test.
    vxcrash_async_image_list images;
    vxcrash_nasync_image_list_init(&images, vxcrash_async_task_self());
    vxcrash_nasync_image_list_add_loaded_images(&images);
    struct Result {
        vxcrash_async_image_list* images;
        size_t frames = 0;
        vxframe_status_t end = VXFRAME_STATUS_OK;
    } result{&images};
    vxcrash_async_thread_state_current(
        [](vxcrash_async_thread_state* state, void* ctx) -> vxcrash_error_t {
            auto* r = static_cast<Result*>(ctx);
            vxframe_cursor cursor;
            vxframe_cursor_init(&cursor, vxcrash_async_task_self(), state, r->images);
            while (r->frames < 512 && (r->end = vxframe_cursor_next(&cursor)) == VXFRAME_STATUS_OK)
                ++r->frames;
            return VXCRASH_STATUS_OK;
        },
        &result);
    vxcrash_nasync_image_list_free(&images);
    EXPECT_GT(result.frames, 5u);
    EXPECT_LT(result.frames, 512u);
    EXPECT_NE(result.end, VXFRAME_STATUS_OK);
}

namespace {

// Readers that answer from a script, so the cursor's own rules show.
struct Script {
    static inline vxframe_status_t status = VXFRAME_STATUS_OK;
    static inline uint64_t pc = 0;
    static inline bool setPc = true;
    static inline int calls = 0;
};

vxframe_status_t scripted(vxcrash_task_t, vxcrash_async_image_list*, const vxcrash_async_thread_state* current,
                          const vxcrash_async_thread_state*, vxcrash_async_thread_state* next)
{
    ++Script::calls;
    if (Script::status != VXFRAME_STATUS_OK)
        return Script::status;
    *next = *current;
    vxcrash_async_thread_state_clear_all_regs(next);
    if (Script::setPc)
        vxcrash_async_thread_state_set_reg(next, VXCRASH_REG_IP, Script::pc);
    return VXFRAME_STATUS_OK;
}

vxframe_status_t failing(vxcrash_task_t, vxcrash_async_image_list*, const vxcrash_async_thread_state*,
                         const vxcrash_async_thread_state*, vxcrash_async_thread_state*)
{
    return VXFRAME_STATUS_BAD_FRAME;
}

} // namespace

TEST(VXCrashFrameCursor, StepsEndAtTheBottomOfTheStackAndKeepTheFirstAnswer)
{
    vxcrash_async_thread_state start;
    vxcrash_async_thread_state_init(&start, VXCRASH_CPU_TYPE_ARM64);
    vxcrash_async_thread_state_set_reg(&start, VXCRASH_REG_IP, 0x100004000);
    const uint64_t page = vxcrash_async_page_size();
    const vxframe_cursor_frame_reader_t readers[] = {failing, scripted};

    struct Case {
        const char* name;
        uint64_t pc;
        bool setPc;
        vxframe_status_t expected;
    };
    const Case cases[] = {
        {"return address 0", 0, true, VXFRAME_STATUS_NO_FRAME},
        {"pc at the page size", page, true, VXFRAME_STATUS_NO_FRAME},
        {"pc one above the page size", page + 1, true, VXFRAME_STATUS_OK},
        {"no pc at all", 0x5000, false, VXFRAME_STATUS_NO_FRAME},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        vxframe_cursor cursor;
        vxframe_cursor_init(&cursor, vxcrash_async_task_self(), &start, nullptr);
        Script::calls = 0;
        Script::status = VXFRAME_STATUS_OK;
        Script::pc = c.pc;
        Script::setPc = c.setPc;
        // The first step reports the starting frame without asking anyone.
        ASSERT_EQ(vxframe_cursor_next_with_readers(&cursor, readers, 2), VXFRAME_STATUS_OK);
        EXPECT_EQ(Script::calls, 0);
        uint64_t pc;
        ASSERT_EQ(vxframe_cursor_get_reg(&cursor, VXCRASH_REG_IP, &pc), VXFRAME_STATUS_OK);
        EXPECT_EQ(pc, 0x100004000u);
        EXPECT_EQ(vxframe_cursor_next_with_readers(&cursor, readers, 2), c.expected);
        EXPECT_EQ(Script::calls, 1);
        EXPECT_EQ(cursor.depth, c.expected == VXFRAME_STATUS_OK ? 2u : 1u);
    }

    vxframe_cursor cursor;
    vxframe_cursor_init(&cursor, vxcrash_async_task_self(), &start, nullptr);
    vxframe_cursor_next_with_readers(&cursor, readers, 2);
    EXPECT_EQ(vxframe_cursor_next_with_readers(&cursor, readers, 0), VXFRAME_STATUS_INVALID_ARGUMENT);
    Script::status = VXFRAME_STATUS_UNSUPPORTED;
    // Every reader failing answers the last one's status; the cursor stays.
    EXPECT_EQ(vxframe_cursor_next_with_readers(&cursor, readers, 2), VXFRAME_STATUS_UNSUPPORTED);
    EXPECT_EQ(cursor.depth, 1u);
    uint64_t value;
    EXPECT_EQ(vxframe_cursor_get_reg(&cursor, VXCRASH_ARM64_X19, &value), VXFRAME_STATUS_UNSUPPORTED);
    EXPECT_STREQ(vxframe_cursor_get_regname(&cursor, VXCRASH_ARM64_LR), "lr");
    EXPECT_EQ(vxframe_cursor_get_regcount(&cursor), 34u);

    EXPECT_STREQ(vxframe_strerror(VXFRAME_STATUS_BAD_REGISTER), "Invalid register");
    EXPECT_STREQ(vxframe_strerror(8), "Unhandled error code");
}

TEST(VXCrashFrameCursor, FramePointerChainMustMoveUpTheStack)
{
    // Three frame records on a fake stack: fp -> (caller fp, return address).
    uint64_t stack[6] = {};
    const vxcrash_task_region region = {0x7000, stack, sizeof stack};
    const vxcrash_task task = {0, &region, 1};
    stack[0] = 0x7010; // record at 0x7000: caller's record at 0x7010
    stack[1] = 0x401000;
    stack[2] = 0x7000; // record at 0x7010 points back down: corrupt
    stack[3] = 0x402000;

    vxcrash_async_thread_state state;
    vxcrash_async_thread_state_init(&state, VXCRASH_CPU_TYPE_X86_64);
    vxcrash_async_thread_state_set_reg(&state, VXCRASH_REG_FP, 0x7000);
    vxcrash_async_thread_state_set_reg(&state, VXCRASH_REG_IP, 0x400100);
    vxcrash_async_thread_state_set_reg(&state, VXCRASH_X86_64_RBX, 9);
    vxcrash_async_thread_state caller;
    ASSERT_EQ(vxframe_cursor_read_frame_ptr(&task, nullptr, &state, nullptr, &caller), VXFRAME_STATUS_OK);
    EXPECT_EQ(vxcrash_async_thread_state_get_reg(&caller, VXCRASH_REG_IP), 0x401000u);
    EXPECT_EQ(vxcrash_async_thread_state_get_reg(&caller, VXCRASH_REG_FP), 0x7010u);
    EXPECT_EQ(vxcrash_async_thread_state_get_reg(&caller, VXCRASH_REG_SP), 0x7010u);
    EXPECT_FALSE(vxcrash_async_thread_state_has_reg(&caller, VXCRASH_X86_64_RBX));

    vxcrash_async_thread_state grandcaller;
    ASSERT_EQ(vxframe_cursor_read_frame_ptr(&task, nullptr, &caller, &state, &grandcaller), VXFRAME_STATUS_OK);
    EXPECT_EQ(vxcrash_async_thread_state_get_reg(&grandcaller, VXCRASH_REG_FP), 0x7000u);
    vxcrash_async_thread_state beyond;
    EXPECT_EQ(vxframe_cursor_read_frame_ptr(&task, nullptr, &grandcaller, &caller, &beyond), VXFRAME_STATUS_BAD_FRAME);

    vxcrash_async_thread_state_set_reg(&state, VXCRASH_REG_FP, 0);
    EXPECT_EQ(vxframe_cursor_read_frame_ptr(&task, nullptr, &state, nullptr, &beyond), VXFRAME_STATUS_NO_FRAME);
    vxcrash_async_thread_state_set_reg(&state, VXCRASH_REG_FP, 0x9000);
    EXPECT_EQ(vxframe_cursor_read_frame_ptr(&task, nullptr, &state, nullptr, &beyond), VXFRAME_STATUS_BAD_FRAME);
    vxcrash_async_thread_state_clear_reg(&state, VXCRASH_REG_FP);
    EXPECT_EQ(vxframe_cursor_read_frame_ptr(&task, nullptr, &state, nullptr, &beyond), VXFRAME_STATUS_BAD_FRAME);
}

namespace {

// What the signal handler saw; filled inside the handler, checked after.
struct SignalWalks {
    vxcrash_async_image_list* images = nullptr;
    uint64_t throughSignalFrame[kMaxFrames] = {};
    size_t throughCount = 0;
    uint64_t fromContext[kMaxFrames] = {};
    size_t contextCount = 0;
    std::vector<uint64_t> libgcc;
};
SignalWalks* signalWalks = nullptr;

size_t walkAll(const vxcrash_async_thread_state* start, uint64_t* pcs)
{
    vxframe_cursor cursor;
    vxframe_cursor_init(&cursor, vxcrash_async_task_self(), start, signalWalks->images);
    size_t count = 0;
    while (count < kMaxFrames && vxframe_cursor_next(&cursor) == VXFRAME_STATUS_OK)
        vxframe_cursor_get_reg(&cursor, VXCRASH_REG_IP, &pcs[count++]);
    return count;
}

void onSignal(int, siginfo_t*, void* context)
{
    // From the signal's machine context, as a crash handler starts.
    vxcrash_async_thread_state fromContext;
    vxcrash_async_thread_state_mcontext_init(&fromContext, &static_cast<ucontext_t*>(context)->uc_mcontext);
    signalWalks->contextCount = walkAll(&fromContext, signalWalks->fromContext);
    // From inside the handler, which has to cross the kernel's signal frame.
    vxcrash_async_thread_state_current(
        [](vxcrash_async_thread_state* state, void*) -> vxcrash_error_t {
            signalWalks->throughCount = walkAll(state, signalWalks->throughSignalFrame);
            _Unwind_Backtrace(collect, &signalWalks->libgcc);
            return VXCRASH_STATUS_OK;
        },
        nullptr);
}

} // namespace

extern "C" __attribute__((noinline)) void vx_raise_from_here()
{
    raise(SIGUSR2);
    asm volatile("" ::: "memory");
}

TEST(VXCrashFrameCursor, WalksFromASignalContextAndAcrossTheSignalFrame)
{
    vxcrash_async_image_list images;
    vxcrash_nasync_image_list_init(&images, vxcrash_async_task_self());
    vxcrash_nasync_image_list_add_loaded_images(&images);
    SignalWalks walks;
    walks.libgcc.reserve(kMaxFrames);
    walks.images = &images;
    signalWalks = &walks;
    struct sigaction action = {}, previous = {};
    action.sa_sigaction = onSignal;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    ASSERT_EQ(sigaction(SIGUSR2, &action, &previous), 0);
    vx_raise_from_here();
    sigaction(SIGUSR2, &previous, nullptr);
    signalWalks = nullptr;

    auto nameOf = [&](uint64_t pc) {
        std::string name;
        vxcrash_async_symbol_cache cache;
        vxcrash_async_symbol_cache_init(&cache);
        vxcrash_async_image_list_set_reading(&images, true);
        if (auto* image = vxcrash_async_image_containing_address(&images, pc - 1))
            vxcrash_async_find_symbol(image, VXCRASH_ASYNC_SYMBOL_STRATEGY_SYMBOL_TABLE, &cache, pc - 1, recordName,
                                      &name);
        vxcrash_async_image_list_set_reading(&images, false);
        vxcrash_async_symbol_cache_free(&cache);
        return name;
    };

    // The walk from the context reaches the function that raised the signal
    // and this test.
    ASSERT_GT(walks.contextCount, 3u);
    size_t raiser = 0;
    while (raiser < walks.contextCount && nameOf(walks.fromContext[raiser]) != "vx_raise_from_here")
        ++raiser;
    ASSERT_LT(raiser, walks.contextCount);
    EXPECT_NE(nameOf(walks.fromContext[raiser + 1]).find("WalksFromASignalContext"), std::string::npos);

    // The walk from inside the handler agrees with _Unwind_Backtrace, signal
    // frame included, and joins the context's walk at the interrupted pc.
    size_t start = 0;
    while (start < walks.libgcc.size() && walks.libgcc[start] != walks.throughSignalFrame[0])
        ++start;
    ASSERT_LT(start, walks.libgcc.size());
    const size_t common = std::min(walks.throughCount, walks.libgcc.size() - start);
    ASSERT_GT(common, walks.contextCount);
    for (size_t i = 0; i < common; ++i)
        EXPECT_EQ(walks.throughSignalFrame[i], walks.libgcc[start + i]) << "frame " << i;
    const uint64_t* tail = walks.throughSignalFrame + walks.throughCount - walks.contextCount;
    EXPECT_EQ(std::vector<uint64_t>(tail, tail + walks.contextCount),
              std::vector<uint64_t>(walks.fromContext, walks.fromContext + walks.contextCount));
    vxcrash_nasync_image_list_free(&images);
}
