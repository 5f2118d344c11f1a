#pragma once

#include "crash-reporting/reporter/VXCrashDwarfEncoding.h"

// A bounded cursor over DWARF instructions or expression bytes held in one
// memory object. Every read checks the bounds; positions are byte offsets.

namespace vxcrash::async {

class dwarf_opstream {
public:
    vxcrash_error_t init(const vxcrash_async_mobject* mobj, const vxcrash_async_byteorder* byteorder,
                         uint64_t address, int64_t offset, uint64_t length)
    {
        uint64_t start;
        if (!vxcrash_async_address_apply_offset(address, offset, &start))
            return VXCRASH_STATUS_INVALID_ARGUMENT;
        start_ = static_cast<const uint8_t*>(vxcrash_async_mobject_remap_address(mobj, start, 0, size_t(length)));
        if (!start_ && length > 0)
            return VXCRASH_STATUS_INVALID_ARGUMENT;
        byteorder_ = byteorder;
        task_start_ = start;
        task_end_ = start + length;
        position_ = 0;
        length_ = size_t(length);
        return VXCRASH_STATUS_OK;
    }

    bool at_end() const { return position_ >= length_; }
    size_t position() const { return position_; }
    size_t length() const { return length_; }
    uint64_t task_address() const { return task_start_ + position_; }
    // Moves to `position` (the end included); false when outside.
    bool set_position(int64_t position)
    {
        if (position < 0 || uint64_t(position) > length_)
            return false;
        position_ = size_t(position);
        return true;
    }
    bool skip(uint64_t n)
    {
        if (n > length_ - position_)
            return false;
        position_ += size_t(n);
        return true;
    }

    template <typename T>
    bool read_intU(T* value)
    {
        if (sizeof(T) > length_ - position_)
            return false;
        T raw;
        __builtin_memcpy(&raw, start_ + position_, sizeof(T));
        position_ += sizeof(T);
        if constexpr (sizeof(T) == 1)
            *value = raw;
        else if constexpr (sizeof(T) == 2)
            *value = T(byteorder_->swap16(uint16_t(raw)));
        else if constexpr (sizeof(T) == 4)
            *value = T(byteorder_->swap32(uint32_t(raw)));
        else
            *value = T(byteorder_->swap64(uint64_t(raw)));
        return true;
    }

    vxcrash_error_t read_uleb128(uint64_t* value)
    {
        size_t size;
        return decode_uleb128([this](uint8_t* b) { return read_intU(b); }, value, &size);
    }
    vxcrash_error_t read_sleb128(int64_t* value)
    {
        size_t size;
        return decode_sleb128([this](uint8_t* b) { return read_intU(b); }, value, &size);
    }

private:
    const uint8_t* start_ = nullptr;
    const vxcrash_async_byteorder* byteorder_ = nullptr;
    uint64_t task_start_ = 0;
    uint64_t task_end_ = 0;
    size_t position_ = 0;
    size_t length_ = 0;
};

} // namespace vxcrash::async
