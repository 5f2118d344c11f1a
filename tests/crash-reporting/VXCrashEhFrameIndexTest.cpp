#include "crash-reporting/reporter/VXCrashEhFrameIndex.h"
#include "crash-reporting/reporter/VXCrashSharedImages.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<uint64_t> walk(const vxcrash_async_thread_state* start, const vxframe_cursor_frame_reader_t* readers,
                           size_t count)
{
    std::vector<uint64_t> pcs;
    vxframe_cursor cursor;
    if (vxframe_cursor_init(&cursor, vxcrash_async_task_self(), start, vxcrash_shared_image_list())
        != VXCRASH_STATUS_OK)
        return pcs;
    while (pcs.size() < 64 && vxframe_cursor_next_with_readers(&cursor, readers, count) == VXFRAME_STATUS_OK) {
        uint64_t pc = 0;
        vxframe_cursor_get_reg(&cursor, VXCRASH_REG_IP, &pc);
        pcs.push_back(pc);
    }
    vxframe_cursor_free(&cursor);
    return pcs;
}

struct Walks {
    std::vector<uint64_t> indexed;
    std::vector<uint64_t> dwarfOnly;
};

vxcrash_error_t compareWalks(vxcrash_async_thread_state* state, void* context)
{
    auto* walks = static_cast<Walks*>(context);
    // DWARF alone, so neither walk can lean on the frame-pointer chain.
    const vxframe_cursor_frame_reader_t indexed[] = {vxcrash_elf_read_indexed_dwarf_unwind};
    const vxframe_cursor_frame_reader_t linear[] = {vxframe_cursor_read_dwarf_unwind};
    walks->indexed = walk(state, indexed, 1);
    walks->dwarfOnly = walk(state, linear, 1);
    return VXCRASH_STATUS_OK;
}

} // namespace

TEST(VXCrashEhFrameIndex, FindsTheSameFramesAsAWalkOfTheWholeSection)
{
    Walks walks;
    vxcrash_async_thread_state_current(compareWalks, &walks);
    // This test, the test framework's frames, main and the C library's start.
    ASSERT_GE(walks.dwarfOnly.size(), 6u);
    EXPECT_EQ(walks.indexed, walks.dwarfOnly);
}
