#pragma once

#include "crash-reporting/reporter/VXCrashAsyncImageList.h"
#include "crash-reporting/reporter/VXCrashAsyncThreadState.h"

// Walks a thread's stack frame by frame. Each step asks compact unwind
// information, then DWARF call-frame information, then the frame-pointer chain,
// and keeps the first answer. Async-safe.

typedef int32_t vxframe_status_t;
enum : vxframe_status_t {
    VXFRAME_STATUS_OK = 0,
    VXFRAME_STATUS_UNKNOWN = 1,
    VXFRAME_STATUS_NO_FRAME = 2,
    VXFRAME_STATUS_BAD_FRAME = 3,
    VXFRAME_STATUS_UNSUPPORTED = 4,
    VXFRAME_STATUS_INVALID_ARGUMENT = 5,
    VXFRAME_STATUS_INTERNAL = 6,
    VXFRAME_STATUS_BAD_REGISTER = 7,
};

const char* vxframe_strerror(vxframe_status_t status);

struct vxframe_cursor {
    vxcrash_task_t task;
    vxcrash_async_image_list* image_list;
    uint32_t depth;
    vxcrash_async_thread_state prev_frame;
    vxcrash_async_thread_state frame;
};

// One unwinder: from the current frame (and the one before it, null for the
// first) to its caller.
typedef vxframe_status_t (*vxframe_cursor_frame_reader_t)(vxcrash_task_t task, vxcrash_async_image_list* image_list,
                                                          const vxcrash_async_thread_state* current,
                                                          const vxcrash_async_thread_state* previous,
                                                          vxcrash_async_thread_state* next);

vxcrash_error_t vxframe_cursor_init(vxframe_cursor* cursor, vxcrash_task_t task,
                                    const vxcrash_async_thread_state* thread_state,
                                    vxcrash_async_image_list* image_list);
vxframe_status_t vxframe_cursor_next(vxframe_cursor* cursor);
vxframe_status_t vxframe_cursor_next_with_readers(vxframe_cursor* cursor, const vxframe_cursor_frame_reader_t* readers,
                                                  size_t reader_count);
vxframe_status_t vxframe_cursor_get_reg(const vxframe_cursor* cursor, vxcrash_regnum_t regnum, uint64_t* value);
const char* vxframe_cursor_get_regname(const vxframe_cursor* cursor, vxcrash_regnum_t regnum);
size_t vxframe_cursor_get_regcount(const vxframe_cursor* cursor);
void vxframe_cursor_free(vxframe_cursor* cursor);

vxframe_status_t vxframe_cursor_read_compact_unwind(vxcrash_task_t task, vxcrash_async_image_list* image_list,
                                                    const vxcrash_async_thread_state* current,
                                                    const vxcrash_async_thread_state* previous,
                                                    vxcrash_async_thread_state* next);
vxframe_status_t vxframe_cursor_read_dwarf_unwind(vxcrash_task_t task, vxcrash_async_image_list* image_list,
                                                  const vxcrash_async_thread_state* current,
                                                  const vxcrash_async_thread_state* previous,
                                                  vxcrash_async_thread_state* next);
vxframe_status_t vxframe_cursor_read_frame_ptr(vxcrash_task_t task, vxcrash_async_image_list* image_list,
                                               const vxcrash_async_thread_state* current,
                                               const vxcrash_async_thread_state* previous,
                                               vxcrash_async_thread_state* next);

// The address to look a frame up at: a caller's pc is a return address, which
// may already lie past the end of its function when the call was the last
// instruction (a call to a function that does not return), so callers are
// looked up one byte earlier. The first frame's pc is where it stopped.
uint64_t vxframe_lookup_pc(const vxcrash_async_thread_state* current, const vxcrash_async_thread_state* previous);
