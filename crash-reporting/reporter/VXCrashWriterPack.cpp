#include "crash-reporting/reporter/VXCrashWriterPack.h"

#include <cstdlib>
#include <cstring>

namespace {

enum WireType : uint32_t { Varint = 0, Fixed64 = 1, LengthDelimited = 2, Fixed32 = 5 };

// Room for a key and a ten-byte varint, or a key and a fixed 64-bit value.
constexpr size_t kFieldBufferSize = 32;

size_t putVarint(uint8_t* out, uint64_t value)
{
    size_t length = 0;
    do {
        uint8_t byte = value & 0x7F;
        value >>= 7;
        if (value)
            byte |= 0x80;
        out[length++] = byte;
    } while (value);
    return length;
}

size_t putFixed(uint8_t* out, uint64_t value, size_t bytes)
{
    for (size_t i = 0; i < bytes; ++i)
        out[i] = uint8_t(value >> (8 * i));
    return bytes;
}

uint64_t zigzag32(int32_t value)
{
    return uint32_t((uint32_t(value) << 1) ^ uint32_t(value >> 31));
}

uint64_t zigzag64(int64_t value)
{
    return (uint64_t(value) << 1) ^ uint64_t(value >> 63);
}

template <typename T> T load(const void* value)
{
    T result;
    std::memcpy(&result, value, sizeof result);
    return result;
}

bool emit(VXCrashWriterOutput* output, const void* data, size_t length, bool* failed)
{
    if (!output || length == 0)
        return true;
    if (output->write(data, length))
        return true;
    if (failed)
        *failed = true;
    return false;
}

} // namespace

size_t vxcrash_writer_pack(VXCrashWriterOutput* output, uint32_t field, vxcrash_pack_kind kind, const void* value,
                           bool* failed)
{
    uint8_t buffer[kFieldBufferSize];
    const void* tail = nullptr;
    size_t tailLength = 0;
    size_t length = 0;

    auto key = [&](WireType type) { length = putVarint(buffer, (uint64_t(field) << 3) | type); };

    switch (kind) {
    case VXCRASH_PACK_INT32:
        key(Varint);
        // A negative value is sign-extended to ten bytes.
        length += putVarint(buffer + length, uint64_t(int64_t(load<int32_t>(value))));
        break;
    case VXCRASH_PACK_SINT32:
        key(Varint);
        length += putVarint(buffer + length, zigzag32(load<int32_t>(value)));
        break;
    case VXCRASH_PACK_SFIXED32:
        key(Fixed32);
        length += putFixed(buffer + length, uint32_t(load<int32_t>(value)), 4);
        break;
    case VXCRASH_PACK_INT64:
        key(Varint);
        length += putVarint(buffer + length, uint64_t(load<int64_t>(value)));
        break;
    case VXCRASH_PACK_SINT64:
        key(Varint);
        length += putVarint(buffer + length, zigzag64(load<int64_t>(value)));
        break;
    case VXCRASH_PACK_SFIXED64:
        key(Fixed64);
        length += putFixed(buffer + length, uint64_t(load<int64_t>(value)), 8);
        break;
    case VXCRASH_PACK_UINT32:
        key(Varint);
        length += putVarint(buffer + length, load<uint32_t>(value));
        break;
    case VXCRASH_PACK_FIXED32:
        key(Fixed32);
        length += putFixed(buffer + length, load<uint32_t>(value), 4);
        break;
    case VXCRASH_PACK_UINT64:
        key(Varint);
        length += putVarint(buffer + length, load<uint64_t>(value));
        break;
    case VXCRASH_PACK_FIXED64:
        key(Fixed64);
        length += putFixed(buffer + length, load<uint64_t>(value), 8);
        break;
    case VXCRASH_PACK_FLOAT:
        key(Fixed32);
        length += putFixed(buffer + length, load<uint32_t>(value), 4);
        break;
    case VXCRASH_PACK_DOUBLE:
        key(Fixed64);
        length += putFixed(buffer + length, load<uint64_t>(value), 8);
        break;
    case VXCRASH_PACK_BOOL:
        key(Varint);
        buffer[length++] = load<bool>(value) ? 1 : 0;
        break;
    case VXCRASH_PACK_ENUM:
        key(Varint);
        length += putVarint(buffer + length, uint64_t(int64_t(load<int>(value))));
        break;
    case VXCRASH_PACK_STRING: {
        const char* text = static_cast<const char*>(value);
        tailLength = std::strlen(text);
        tail = text;
        key(LengthDelimited);
        length += putVarint(buffer + length, tailLength);
        break;
    }
    case VXCRASH_PACK_BYTES: {
        const auto* bytes = static_cast<const vxcrash_pack_bytes*>(value);
        tail = bytes->data;
        tailLength = bytes->length;
        key(LengthDelimited);
        length += putVarint(buffer + length, tailLength);
        break;
    }
    case VXCRASH_PACK_MESSAGE:
        key(LengthDelimited);
        length += putVarint(buffer + length, load<uint32_t>(value));
        break;
    default:
        abort();
    }

    if (emit(output, buffer, length, failed))
        emit(output, tail, tailLength, failed);
    return length + tailLength;
}
