#pragma once

#include "crash-reporting/reporter/VXCrashAsync.h"

// A read-only local copy of a range of a task's memory, with a bounds check on
// every access. The copy lives in pages taken straight from the kernel (mmap),
// so making one needs neither the heap nor a lock.
struct vxcrash_async_mobject {
    vxcrash_task_t task;
    uintptr_t address;      // local address of the first requested byte
    uint64_t task_address;  // that byte's address in the task
    uint64_t length;        // requested bytes actually held (never more than requested)
    int64_t address_offset; // task_address - address
    uintptr_t vm_address;   // the page-aligned local copy
    size_t vm_length;
};

// With `require_full` the whole range must be readable; without, the copy is cut
// at the first unreadable page after the first one.
vxcrash_error_t vxcrash_async_mobject_init(vxcrash_async_mobject* mobj, vxcrash_task_t task, uint64_t task_address,
                                           uint64_t length, bool require_full);
void vxcrash_async_mobject_free(vxcrash_async_mobject* mobj);

uint64_t vxcrash_async_mobject_base_address(const vxcrash_async_mobject* mobj);
uint64_t vxcrash_async_mobject_length(const vxcrash_async_mobject* mobj);
vxcrash_task_t vxcrash_async_mobject_task(const vxcrash_async_mobject* mobj);

bool vxcrash_async_mobject_verify_local_pointer(const vxcrash_async_mobject* mobj, uintptr_t address, int64_t offset,
                                                size_t length);
// The local pointer for `length` bytes at task address + offset, or null when
// any of them lies outside the object.
void* vxcrash_async_mobject_remap_address(const vxcrash_async_mobject* mobj, uint64_t task_address, int64_t offset,
                                          size_t length);

vxcrash_error_t vxcrash_async_mobject_read_uint8(const vxcrash_async_mobject* mobj, uint64_t address, int64_t offset,
                                                 uint8_t* result);
vxcrash_error_t vxcrash_async_mobject_read_uint16(const vxcrash_async_mobject* mobj,
                                                  const vxcrash_async_byteorder* byteorder, uint64_t address,
                                                  int64_t offset, uint16_t* result);
vxcrash_error_t vxcrash_async_mobject_read_uint32(const vxcrash_async_mobject* mobj,
                                                  const vxcrash_async_byteorder* byteorder, uint64_t address,
                                                  int64_t offset, uint32_t* result);
vxcrash_error_t vxcrash_async_mobject_read_uint64(const vxcrash_async_mobject* mobj,
                                                  const vxcrash_async_byteorder* byteorder, uint64_t address,
                                                  int64_t offset, uint64_t* result);
