#pragma once

#include "crash-reporting/reporter/VXCrashAsyncMObject.h"

// Variable-length numbers and sized values as DWARF call-frame data stores
// them, read through a memory object (or a task) with bounds checks.

namespace vxcrash::async {

// Unsigned LEB128 of at most 10 bytes; a tenth byte that still continues is
// VXCRASH_STATUS_UNSUPPORTED, an unreadable byte VXCRASH_STATUS_INVALID_ARGUMENT.
vxcrash_error_t vxcrash_async_dwarf_read_uleb128(const vxcrash_async_mobject* mobj, uint64_t base, int64_t offset,
                                                 uint64_t* result, size_t* size);
vxcrash_error_t vxcrash_async_dwarf_read_sleb128(const vxcrash_async_mobject* mobj, uint64_t base, int64_t offset,
                                                 int64_t* result, size_t* size);
vxcrash_error_t vxcrash_async_dwarf_read_task_uleb128(vxcrash_task_t task, uint64_t address, int64_t offset,
                                                      uint64_t* result, size_t* size);
vxcrash_error_t vxcrash_async_dwarf_read_task_sleb128(vxcrash_task_t task, uint64_t address, int64_t offset,
                                                      int64_t* result, size_t* size);
// A value of 1, 2, 4 or 8 bytes, zero-extended.
vxcrash_error_t vxcrash_async_dwarf_read_uintmax64(const vxcrash_async_mobject* mobj,
                                                   const vxcrash_async_byteorder* byteorder, uint64_t base,
                                                   int64_t offset, uint8_t size, uint64_t* result);

// Decodes a LEB128 from bytes handed out one at a time by `next` (which
// answers false for an unreadable byte).
template <typename NextByte>
vxcrash_error_t decode_uleb128(NextByte next, uint64_t* result, size_t* size)
{
    uint64_t value = 0;
    for (size_t i = 0; i < 10; ++i) {
        uint8_t byte;
        if (!next(&byte))
            return VXCRASH_STATUS_INVALID_ARGUMENT;
        value |= uint64_t(byte & 0x7F) << (7 * i);
        if (!(byte & 0x80)) {
            *result = value;
            *size = i + 1;
            return VXCRASH_STATUS_OK;
        }
    }
    return VXCRASH_STATUS_UNSUPPORTED;
}

template <typename NextByte>
vxcrash_error_t decode_sleb128(NextByte next, int64_t* result, size_t* size)
{
    uint64_t value = 0;
    unsigned shift = 0;
    uint8_t byte = 0;
    for (size_t i = 0;; ++i) {
        if (i == 10)
            return VXCRASH_STATUS_UNSUPPORTED;
        if (!next(&byte))
            return VXCRASH_STATUS_INVALID_ARGUMENT;
        if (shift < 64)
            value |= uint64_t(byte & 0x7F) << shift;
        shift += 7;
        if (!(byte & 0x80)) {
            *size = i + 1;
            break;
        }
    }
    if (shift < 64 && (byte & 0x40))
        value |= ~uint64_t(0) << shift;
    *result = int64_t(value);
    return VXCRASH_STATUS_OK;
}

} // namespace vxcrash::async
