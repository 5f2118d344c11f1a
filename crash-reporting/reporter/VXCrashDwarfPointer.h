#pragma once

#include "crash-reporting/reporter/VXCrashDwarfEncoding.h"

#include <type_traits>

// Pointers as the GNU exception-frame format encodes them (DW_EH_PE_*).

namespace vxcrash::async {

enum : uint8_t {
    DW_EH_PE_omit = 0xFF,
    DW_EH_PE_absptr = 0x00,
    DW_EH_PE_uleb128 = 0x01,
    DW_EH_PE_udata2 = 0x02,
    DW_EH_PE_udata4 = 0x03,
    DW_EH_PE_udata8 = 0x04,
    DW_EH_PE_sleb128 = 0x09,
    DW_EH_PE_sdata2 = 0x0A,
    DW_EH_PE_sdata4 = 0x0B,
    DW_EH_PE_sdata8 = 0x0C,
    DW_EH_PE_pcrel = 0x10,
    DW_EH_PE_textrel = 0x20,
    DW_EH_PE_datarel = 0x30,
    DW_EH_PE_funcrel = 0x40,
    DW_EH_PE_aligned = 0x50,
    DW_EH_PE_indirect = 0x80,
};

template <typename machine_ptr>
class gnu_ehptr_reader {
public:
    explicit gnu_ehptr_reader(const vxcrash_async_byteorder* byteorder) : byteorder_(byteorder) { }

    void set_frame_section_base(uint64_t task_address, uint64_t vm_address)
    {
        frame_ = {true, task_address, vm_address};
    }
    void set_text_base(uint64_t address) { text_ = {true, address, 0}; }
    void set_data_base(uint64_t address) { data_ = {true, address, 0}; }
    void set_func_base(uint64_t address) { func_ = {true, address, 0}; }

    vxcrash_error_t read(const vxcrash_async_mobject* mobj, uint64_t address, int64_t offset, uint8_t encoding,
                         machine_ptr* result, size_t* size) const
    {
        if (encoding == DW_EH_PE_omit)
            return VXCRASH_STATUS_NOT_FOUND;
        uint64_t at;
        if (!vxcrash_async_address_apply_offset(address, offset, &at))
            return VXCRASH_STATUS_INVALID_ARGUMENT;
        machine_ptr base = 0;
        size_t padding = 0;
        switch (encoding & 0x70) {
        case DW_EH_PE_absptr: break;
        case DW_EH_PE_pcrel: base = machine_ptr(at); break;
        case DW_EH_PE_textrel:
            if (!text_.set)
                return VXCRASH_STATUS_UNSUPPORTED;
            base = machine_ptr(text_.address);
            break;
        case DW_EH_PE_datarel:
            if (!data_.set)
                return VXCRASH_STATUS_UNSUPPORTED;
            base = machine_ptr(data_.address);
            break;
        case DW_EH_PE_funcrel:
            if (!func_.set)
                return VXCRASH_STATUS_UNSUPPORTED;
            base = machine_ptr(func_.address);
            break;
        case DW_EH_PE_aligned: {
            if (!frame_.set)
                return VXCRASH_STATUS_UNSUPPORTED;
            const uint64_t vm = frame_.vm_address + (at - frame_.address);
            const uint64_t align = sizeof(machine_ptr);
            padding = size_t((align - vm % align) % align);
            at += padding;
            break;
        }
        default: return VXCRASH_STATUS_UNSUPPORTED;
        }

        uint64_t raw = 0;
        size_t length = 0;
        vxcrash_error_t err = VXCRASH_STATUS_OK;
        const uint8_t format = (encoding & 0x70) == DW_EH_PE_aligned ? DW_EH_PE_absptr : (encoding & 0x0F);
        switch (format) {
        case DW_EH_PE_absptr:
            length = sizeof(machine_ptr);
            err = vxcrash_async_dwarf_read_uintmax64(mobj, byteorder_, at, 0, uint8_t(length), &raw);
            break;
        case DW_EH_PE_uleb128: err = vxcrash_async_dwarf_read_uleb128(mobj, at, 0, &raw, &length); break;
        case DW_EH_PE_sleb128: {
            int64_t v;
            err = vxcrash_async_dwarf_read_sleb128(mobj, at, 0, &v, &length);
            raw = uint64_t(v);
            break;
        }
        case DW_EH_PE_udata2:
        case DW_EH_PE_sdata2:
            length = 2;
            err = vxcrash_async_dwarf_read_uintmax64(mobj, byteorder_, at, 0, 2, &raw);
            if (format == DW_EH_PE_sdata2)
                raw = uint64_t(int64_t(int16_t(raw)));
            break;
        case DW_EH_PE_udata4:
        case DW_EH_PE_sdata4:
            length = 4;
            err = vxcrash_async_dwarf_read_uintmax64(mobj, byteorder_, at, 0, 4, &raw);
            if (format == DW_EH_PE_sdata4)
                raw = uint64_t(int64_t(int32_t(raw)));
            break;
        case DW_EH_PE_udata8:
        case DW_EH_PE_sdata8:
            length = 8;
            err = vxcrash_async_dwarf_read_uintmax64(mobj, byteorder_, at, 0, 8, &raw);
            break;
        default: return VXCRASH_STATUS_UNSUPPORTED;
        }
        if (err != VXCRASH_STATUS_OK)
            return err;
        machine_ptr value = machine_ptr(base + machine_ptr(raw));
        if (encoding & DW_EH_PE_indirect) {
            uint64_t word = 0;
            if (sizeof(machine_ptr) == 8) {
                err = vxcrash_async_task_read_uint64(mobj->task, byteorder_, value, 0, &word);
            } else {
                uint32_t w32 = 0;
                err = vxcrash_async_task_read_uint32(mobj->task, byteorder_, value, 0, &w32);
                word = w32;
            }
            if (err != VXCRASH_STATUS_OK)
                return err;
            value = machine_ptr(word);
        }
        *result = value;
        *size = padding + length;
        return VXCRASH_STATUS_OK;
    }

private:
    struct Base {
        bool set = false;
        uint64_t address = 0;
        uint64_t vm_address = 0;
    };
    const vxcrash_async_byteorder* byteorder_;
    Base frame_, text_, data_, func_;
};

} // namespace vxcrash::async
