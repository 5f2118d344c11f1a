#pragma once

// The lowest layer of the crash reporter: status codes, byte order, and reads
// of a task's memory that answer a status instead of faulting. Every function
// named `async` is safe inside a signal handler: no heap, no locks, no stdio.

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

typedef int32_t vxcrash_error_t;

enum : vxcrash_error_t {
    VXCRASH_STATUS_OK = 0,
    VXCRASH_STATUS_UNKNOWN = 1,
    VXCRASH_STATUS_OUTPUT = 2,
    VXCRASH_STATUS_NO_MEMORY = 3,
    VXCRASH_STATUS_UNSUPPORTED = 4,
    VXCRASH_STATUS_INVALID_ARGUMENT = 5,
    VXCRASH_STATUS_INTERNAL = 6,
    VXCRASH_STATUS_ACCESS_DENIED = 7,
    VXCRASH_STATUS_NOT_FOUND = 8,
    VXCRASH_STATUS_INVALID_DATA = 9,
};

const char* vxcrash_async_strerror(vxcrash_error_t error);

// Byte order of the data being read; the host is little-endian.
struct vxcrash_async_byteorder {
    uint16_t (*swap16)(uint16_t);
    uint32_t (*swap32)(uint32_t);
    uint64_t (*swap64)(uint64_t);
};
const vxcrash_async_byteorder* vxcrash_async_byteorder_little_endian();
const vxcrash_async_byteorder* vxcrash_async_byteorder_big_endian();

// One readable range of a fake task: `length` bytes at `address` in the task,
// held at `bytes` in this process.
struct vxcrash_task_region {
    uint64_t address;
    const void* bytes;
    uint64_t length;
};

// The process whose memory is read. The real one is this process, read through
// process_vm_readv so that a bad address comes back as EFAULT; a fake one is a
// set of memory regions (tests build synthetic images in them). Tasks are
// borrowed: whoever makes one keeps it alive while readers use it.
struct vxcrash_task {
    pid_t pid;
    const vxcrash_task_region* regions;
    size_t region_count;
};
typedef const vxcrash_task* vxcrash_task_t;

// This process.
vxcrash_task_t vxcrash_async_task_self();

// Page size of the task, fixed for the process.
uint64_t vxcrash_async_page_size();

// base + offset (offset signed) without wrapping; false when it would wrap.
bool vxcrash_async_address_apply_offset(uint64_t base, int64_t offset, uint64_t* result);

// Copies up to `length` bytes at `address` in the task and stops at the first
// unreadable byte; answers how many were copied (0 with `*status` set when the
// first byte is unreadable).
size_t vxcrash_async_task_read_partial(vxcrash_task_t task, uint64_t address, void* dest, size_t length,
                                       vxcrash_error_t* status);

// Copies exactly `length` bytes at address + offset, or fails: an address that
// wraps gives VXCRASH_STATUS_NO_MEMORY without a read, an unmapped byte
// VXCRASH_STATUS_NOT_FOUND, a refused read VXCRASH_STATUS_ACCESS_DENIED.
vxcrash_error_t vxcrash_async_task_memcpy(vxcrash_task_t task, uint64_t address, int64_t offset, void* dest,
                                          size_t length);
vxcrash_error_t vxcrash_async_task_read_uint8(vxcrash_task_t task, uint64_t address, int64_t offset, uint8_t* result);
vxcrash_error_t vxcrash_async_task_read_uint16(vxcrash_task_t task, const vxcrash_async_byteorder* byteorder,
                                               uint64_t address, int64_t offset, uint16_t* result);
vxcrash_error_t vxcrash_async_task_read_uint32(vxcrash_task_t task, const vxcrash_async_byteorder* byteorder,
                                               uint64_t address, int64_t offset, uint32_t* result);
vxcrash_error_t vxcrash_async_task_read_uint64(vxcrash_task_t task, const vxcrash_async_byteorder* byteorder,
                                               uint64_t address, int64_t offset, uint64_t* result);

int vxcrash_async_strcmp(const char* a, const char* b);
int vxcrash_async_strncmp(const char* a, const char* b, size_t n);
size_t vxcrash_async_strlen(const char* s);
void* vxcrash_async_memcpy(void* dest, const void* src, size_t n);
void* vxcrash_async_memset(void* dest, uint8_t value, size_t n);
// Writes the decimal digits of `value` at `at`, without a terminator, and
// answers the end. `at` has room for 20 digits.
char* vxcrash_async_append_decimal(char* at, uint64_t value);
