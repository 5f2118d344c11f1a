#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

// Buffered output to a descriptor using only write(2) and close(2), so the
// crash log can be written from a signal handler.
struct vxcrash_async_file {
    int fd;
    uint64_t limit;       // most bytes the file may receive; 0: no limit
    uint64_t total_bytes; // accepted so far (counted only with a limit)
    size_t buflen;
    uint8_t buffer[256];
};

// Writes every byte, retrying interrupted writes; negative on failure.
ssize_t vxcrash_async_writen(int fd, const void* data, size_t length);

void vxcrash_async_file_init(vxcrash_async_file* file, int fd, uint64_t limit);
// False when the write would pass the limit (nothing is written and the file
// stays usable) or when a write fails.
bool vxcrash_async_file_write(vxcrash_async_file* file, const void* data, size_t length);
bool vxcrash_async_file_flush(vxcrash_async_file* file);
bool vxcrash_async_file_close(vxcrash_async_file* file);
