#pragma once

#include <cstddef>
#include <cstdint>

// Where the crash log writer's bytes go. write() is async-signal-safe and
// returns false when the bytes were refused (a failed write or a size limit).
class VXCrashWriterOutput {
public:
    virtual bool write(const void* data, size_t length) = 0;

protected:
    ~VXCrashWriterOutput() = default;
};

// Value kinds of one protocol-buffer field, numbered as protobuf-c numbers
// its types.
enum vxcrash_pack_kind : uint32_t {
    VXCRASH_PACK_INT32 = 0,
    VXCRASH_PACK_SINT32 = 1,
    VXCRASH_PACK_SFIXED32 = 2,
    VXCRASH_PACK_INT64 = 3,
    VXCRASH_PACK_SINT64 = 4,
    VXCRASH_PACK_SFIXED64 = 5,
    VXCRASH_PACK_UINT32 = 6,
    VXCRASH_PACK_FIXED32 = 7,
    VXCRASH_PACK_UINT64 = 8,
    VXCRASH_PACK_FIXED64 = 9,
    VXCRASH_PACK_FLOAT = 10,
    VXCRASH_PACK_DOUBLE = 11,
    VXCRASH_PACK_BOOL = 12,
    VXCRASH_PACK_ENUM = 13,
    VXCRASH_PACK_STRING = 14,
    VXCRASH_PACK_BYTES = 15,
    VXCRASH_PACK_MESSAGE = 16,
};

// The value of a bytes field.
struct vxcrash_pack_bytes {
    size_t length;
    const void* data;
};

// Encodes one field. `value` points to the value in its C type: int32_t,
// int64_t, uint32_t, uint64_t, float, double, bool, int (enum), a
// NUL-terminated char array (string), vxcrash_pack_bytes (bytes), or for an
// embedded message a uint32_t holding its size, of which only the key and the
// size are written; the caller writes the contents after it.
//
// With a null output nothing is written; either way the result is the number
// of bytes the field takes. A write the output refuses sets *failed when
// `failed` is given. An unknown kind aborts the process.
size_t vxcrash_writer_pack(VXCrashWriterOutput* output, uint32_t field, vxcrash_pack_kind kind, const void* value,
                           bool* failed = nullptr);
