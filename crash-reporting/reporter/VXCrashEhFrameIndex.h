#pragma once

#include "crash-reporting/reporter/VXCrashFrameCursor.h"

// DWARF unwinding of ELF images through the sorted table of .eh_frame_hdr:
// a binary search finds the one FDE that can cover the pc, and only that FDE
// and its CIE are read, where a walk of the whole .eh_frame would copy and
// parse thousands of entries per step. Images without a usable table, and
// Mach-O images, go to the cursor's own DWARF reader. Async-signal-safe; a
// frame reader for vxframe_cursor_next_with_readers.
vxframe_status_t vxcrash_elf_read_indexed_dwarf_unwind(vxcrash_task_t task, vxcrash_async_image_list* image_list,
                                                       const vxcrash_async_thread_state* current,
                                                       const vxcrash_async_thread_state* previous,
                                                       vxcrash_async_thread_state* next);

// The readers a crash report walks stacks with: compact unwind, DWARF through
// the index above, then the frame-pointer chain.
extern const vxframe_cursor_frame_reader_t kVXCrashIndexedFrameReaders[3];
