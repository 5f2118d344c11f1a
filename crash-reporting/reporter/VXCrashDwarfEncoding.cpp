#include "crash-reporting/reporter/VXCrashDwarfEncoding.h"

namespace vxcrash::async {

namespace {

struct MObjectBytes {
    const vxcrash_async_mobject* mobj;
    uint64_t base;
    int64_t offset;
    bool operator()(uint8_t* byte)
    {
        const auto* p = static_cast<const uint8_t*>(vxcrash_async_mobject_remap_address(mobj, base, offset, 1));
        if (!p)
            return false;
        *byte = *p;
        ++offset;
        return true;
    }
};

} // namespace

vxcrash_error_t vxcrash_async_dwarf_read_uleb128(const vxcrash_async_mobject* mobj, uint64_t base, int64_t offset,
                                                 uint64_t* result, size_t* size)
{
    return decode_uleb128(MObjectBytes{mobj, base, offset}, result, size);
}

vxcrash_error_t vxcrash_async_dwarf_read_sleb128(const vxcrash_async_mobject* mobj, uint64_t base, int64_t offset,
                                                 int64_t* result, size_t* size)
{
    return decode_sleb128(MObjectBytes{mobj, base, offset}, result, size);
}

vxcrash_error_t vxcrash_async_dwarf_read_task_uleb128(vxcrash_task_t task, uint64_t address, int64_t offset,
                                                      uint64_t* result, size_t* size)
{
    uint64_t at;
    if (!vxcrash_async_address_apply_offset(address, offset, &at))
        return VXCRASH_STATUS_INVALID_ARGUMENT;
    vxcrash_async_mobject mobj;
    vxcrash_error_t err = vxcrash_async_mobject_init(&mobj, task, at, vxcrash_async_page_size(), false);
    if (err != VXCRASH_STATUS_OK)
        return err;
    err = vxcrash_async_dwarf_read_uleb128(&mobj, at, 0, result, size);
    vxcrash_async_mobject_free(&mobj);
    return err;
}

vxcrash_error_t vxcrash_async_dwarf_read_task_sleb128(vxcrash_task_t task, uint64_t address, int64_t offset,
                                                      int64_t* result, size_t* size)
{
    uint64_t at;
    if (!vxcrash_async_address_apply_offset(address, offset, &at))
        return VXCRASH_STATUS_INVALID_ARGUMENT;
    vxcrash_async_mobject mobj;
    vxcrash_error_t err = vxcrash_async_mobject_init(&mobj, task, at, vxcrash_async_page_size(), false);
    if (err != VXCRASH_STATUS_OK)
        return err;
    err = vxcrash_async_dwarf_read_sleb128(&mobj, at, 0, result, size);
    vxcrash_async_mobject_free(&mobj);
    return err;
}

vxcrash_error_t vxcrash_async_dwarf_read_uintmax64(const vxcrash_async_mobject* mobj,
                                                   const vxcrash_async_byteorder* byteorder, uint64_t base,
                                                   int64_t offset, uint8_t size, uint64_t* result)
{
    vxcrash_error_t err = VXCRASH_STATUS_INVALID_ARGUMENT;
    switch (size) {
    case 1: {
        uint8_t v = 0;
        err = vxcrash_async_mobject_read_uint8(mobj, base, offset, &v);
        if (err == VXCRASH_STATUS_OK)
            *result = v;
        break;
    }
    case 2: {
        uint16_t v = 0;
        err = vxcrash_async_mobject_read_uint16(mobj, byteorder, base, offset, &v);
        if (err == VXCRASH_STATUS_OK)
            *result = v;
        break;
    }
    case 4: {
        uint32_t v = 0;
        err = vxcrash_async_mobject_read_uint32(mobj, byteorder, base, offset, &v);
        if (err == VXCRASH_STATUS_OK)
            *result = v;
        break;
    }
    case 8:
        err = vxcrash_async_mobject_read_uint64(mobj, byteorder, base, offset, result);
        break;
    default:
        return VXCRASH_STATUS_INVALID_ARGUMENT;
    }
    return err == VXCRASH_STATUS_OK ? VXCRASH_STATUS_OK : VXCRASH_STATUS_INVALID_ARGUMENT;
}

} // namespace vxcrash::async
