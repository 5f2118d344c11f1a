#pragma once

#include "crash-reporting/reporter/VXCrashAsyncImageList.h"

#include <cstddef>

// The message a process leaves behind about why it is going down: the
// "__crash_info" section of a Mach-O image, or the C library's abort message
// (the text of a failed assert()). Async-signal-safe unless named nasync.

// Finds where the C library keeps its abort message. Ordinary context.
void vxcrash_nasync_abort_message_init();

// Copies the image's message (at most capacity - 1 bytes, then a NUL); false
// when it has none.
bool vxcrash_async_image_crash_info_message(const vxcrash_async_image* image, char* buffer, size_t capacity);

// The "__crash_info" section of a Mach-O image: at least 40 bytes, version 4
// or 5, the text at the pointer at offset 8, else at offset 32.
bool vxcrash_async_macho_crash_info_message(const vxcrash_async_macho* image, char* buffer, size_t capacity);
