#pragma once

#include "crash-reporting/reporter/VXCrashDwarfPointer.h"

// CIEs and FDEs of an .eh_frame or .debug_frame section, and the linear search
// for the FDE that covers a pc.

namespace vxcrash::async {

template <typename machine_ptr>
struct vxcrash_async_dwarf_cie_info {
    uint64_t cie_offset;
    uint64_t cie_length;
    uint64_t cie_id;
    uint8_t cie_version;
    uint8_t address_size;
    uint8_t segment_size;
    uint64_t code_alignment_factor;
    int64_t data_alignment_factor;
    uint64_t return_address_register;
    bool has_eh_augmentation;
    struct {
        bool has_lsda_encoding;
        uint8_t lsda_encoding;
        bool has_personality_address;
        machine_ptr personality_address;
        bool has_pointer_encoding;
        uint8_t pointer_encoding;
        bool signal_frame;
    } eh_augmentation;
    uint64_t initial_instructions_offset;
    uint64_t initial_instructions_length;
};

template <typename machine_ptr>
struct vxcrash_async_dwarf_fde_info {
    uint64_t fde_offset;
    uint64_t fde_length;
    uint64_t cie_offset;
    machine_ptr pc_start;
    machine_ptr pc_end;
    uint64_t instructions_offset;
    uint64_t instructions_length;
};

namespace detail {

// Length field of an entry at `at`: 32-bit, or all ones and a 64-bit length.
inline vxcrash_error_t read_entry_length(const vxcrash_async_mobject* mobj, const vxcrash_async_byteorder* bo,
                                         uint64_t at, uint64_t* length, size_t* header, bool* wide)
{
    uint32_t short_length;
    if (vxcrash_async_mobject_read_uint32(mobj, bo, at, 0, &short_length) != VXCRASH_STATUS_OK)
        return VXCRASH_STATUS_INVALID_ARGUMENT;
    if (short_length == 0xFFFFFFFF) {
        if (vxcrash_async_mobject_read_uint64(mobj, bo, at, 4, length) != VXCRASH_STATUS_OK)
            return VXCRASH_STATUS_INVALID_ARGUMENT;
        *header = 12;
        *wide = true;
    } else {
        *length = short_length;
        *header = 4;
        *wide = false;
    }
    return VXCRASH_STATUS_OK;
}

} // namespace detail

template <typename machine_ptr>
vxcrash_error_t vxcrash_async_dwarf_cie_info_init(vxcrash_async_dwarf_cie_info<machine_ptr>* info,
                                                  const vxcrash_async_mobject* mobj,
                                                  const vxcrash_async_byteorder* bo,
                                                  const gnu_ehptr_reader<machine_ptr>* reader, uint64_t address)
{
    vxcrash_async_memset(info, 0, sizeof *info);
    const uint64_t section = vxcrash_async_mobject_base_address(mobj);
    uint64_t length;
    size_t header;
    bool wide;
    vxcrash_error_t err = detail::read_entry_length(mobj, bo, address, &length, &header, &wide);
    if (err != VXCRASH_STATUS_OK)
        return err;
    info->cie_offset = address + header - section;
    info->cie_length = length;
    const uint64_t start = address + header;
    if (length > vxcrash_async_mobject_length(mobj) || !vxcrash_async_mobject_remap_address(mobj, start, 0, size_t(length)))
        return VXCRASH_STATUS_INVALID_ARGUMENT;
    const uint64_t end = start + length;
    uint64_t at = start;
    auto remaining = [&]() { return end - at; };

    const size_t idSize = wide ? 8 : 4;
    if (remaining() < idSize + 1)
        return VXCRASH_STATUS_INVALID_ARGUMENT;
    uint64_t id;
    if (vxcrash_async_dwarf_read_uintmax64(mobj, bo, at, 0, uint8_t(idSize), &id) != VXCRASH_STATUS_OK)
        return VXCRASH_STATUS_INVALID_ARGUMENT;
    const uint64_t allOnes = wide ? ~uint64_t(0) : 0xFFFFFFFFu;
    if (id != 0 && id != allOnes)
        return VXCRASH_STATUS_INVALID_ARGUMENT;
    info->cie_id = id;
    at += idSize;

    uint8_t version;
    vxcrash_async_mobject_read_uint8(mobj, at, 0, &version);
    at += 1;
    if (version != 1 && version != 3 && version != 4)
        return VXCRASH_STATUS_INVALID_ARGUMENT;
    info->cie_version = version;

    // Augmentation string, NUL-terminated inside the CIE.
    const uint64_t augmentation = at;
    for (;;) {
        if (remaining() == 0)
            return VXCRASH_STATUS_INVALID_ARGUMENT;
        uint8_t c;
        vxcrash_async_mobject_read_uint8(mobj, at, 0, &c);
        ++at;
        if (c == 0)
            break;
    }
    uint8_t first;
    vxcrash_async_mobject_read_uint8(mobj, augmentation, 0, &first);
    if (first != 0 && first != 'z')
        return VXCRASH_STATUS_UNSUPPORTED;
    info->has_eh_augmentation = first == 'z';

    if (version == 4) {
        if (remaining() < 2)
            return VXCRASH_STATUS_INVALID_ARGUMENT;
        vxcrash_async_mobject_read_uint8(mobj, at, 0, &info->address_size);
        vxcrash_async_mobject_read_uint8(mobj, at, 1, &info->segment_size);
        at += 2;
    }

    size_t n;
    if ((err = vxcrash_async_dwarf_read_uleb128(mobj, at, 0, &info->code_alignment_factor, &n)) != VXCRASH_STATUS_OK)
        return err;
    at += n;
    if ((err = vxcrash_async_dwarf_read_sleb128(mobj, at, 0, &info->data_alignment_factor, &n)) != VXCRASH_STATUS_OK)
        return err;
    at += n;
    if ((err = vxcrash_async_dwarf_read_uleb128(mobj, at, 0, &info->return_address_register, &n)) !=
        VXCRASH_STATUS_OK)
        return err;
    at += n;
    if (at > end)
        return VXCRASH_STATUS_INVALID_ARGUMENT;

    if (info->has_eh_augmentation) {
        uint64_t data_length;
        if ((err = vxcrash_async_dwarf_read_uleb128(mobj, at, 0, &data_length, &n)) != VXCRASH_STATUS_OK)
            return err;
        at += n;
        if (at > end || data_length > end - at)
            return VXCRASH_STATUS_INVALID_ARGUMENT;
        const uint64_t data_end = at + data_length;
        uint64_t item = at;
        for (uint64_t ch = augmentation + 1;; ++ch) {
            uint8_t c;
            vxcrash_async_mobject_read_uint8(mobj, ch, 0, &c);
            if (c == 0)
                break;
            if (c == 'L') {
                if (item >= data_end)
                    return VXCRASH_STATUS_INVALID_ARGUMENT;
                vxcrash_async_mobject_read_uint8(mobj, item, 0, &info->eh_augmentation.lsda_encoding);
                info->eh_augmentation.has_lsda_encoding = true;
                ++item;
            } else if (c == 'P') {
                if (item >= data_end)
                    return VXCRASH_STATUS_INVALID_ARGUMENT;
                uint8_t encoding;
                vxcrash_async_mobject_read_uint8(mobj, item, 0, &encoding);
                ++item;
                machine_ptr personality;
                if ((err = reader->read(mobj, item, 0, encoding, &personality, &n)) != VXCRASH_STATUS_OK)
                    return err;
                item += n;
                info->eh_augmentation.personality_address = personality;
                info->eh_augmentation.has_personality_address = true;
            } else if (c == 'R') {
                if (item >= data_end)
                    return VXCRASH_STATUS_INVALID_ARGUMENT;
                vxcrash_async_mobject_read_uint8(mobj, item, 0, &info->eh_augmentation.pointer_encoding);
                info->eh_augmentation.has_pointer_encoding = true;
                ++item;
            } else if (c == 'S') {
                info->eh_augmentation.signal_frame = true;
            } else {
                break;
            }
        }
        at = data_end;
    }

    info->initial_instructions_offset = at - section;
    info->initial_instructions_length = end - at;
    return VXCRASH_STATUS_OK;
}

template <typename machine_ptr>
uint64_t vxcrash_async_dwarf_cie_info_initial_instructions_offset(const vxcrash_async_dwarf_cie_info<machine_ptr>* i)
{
    return i->initial_instructions_offset;
}
template <typename machine_ptr>
uint64_t vxcrash_async_dwarf_cie_info_initial_instructions_length(const vxcrash_async_dwarf_cie_info<machine_ptr>* i)
{
    return i->initial_instructions_length;
}
template <typename machine_ptr>
void vxcrash_async_dwarf_cie_info_free(vxcrash_async_dwarf_cie_info<machine_ptr>*)
{
}

template <typename machine_ptr>
vxcrash_error_t vxcrash_async_dwarf_fde_info_init(vxcrash_async_dwarf_fde_info<machine_ptr>* info,
                                                  const vxcrash_async_mobject* mobj,
                                                  const vxcrash_async_byteorder* bo, uint64_t address,
                                                  bool debug_frame)
{
    vxcrash_async_memset(info, 0, sizeof *info);
    const uint64_t section = vxcrash_async_mobject_base_address(mobj);
    uint64_t length;
    size_t header;
    bool wide;
    vxcrash_error_t err = detail::read_entry_length(mobj, bo, address, &length, &header, &wide);
    if (err != VXCRASH_STATUS_OK)
        return err;
    const uint64_t start = address + header;
    info->fde_offset = start - section;
    info->fde_length = length;
    if (length > vxcrash_async_mobject_length(mobj) || !vxcrash_async_mobject_remap_address(mobj, start, 0, size_t(length)))
        return VXCRASH_STATUS_INVALID_ARGUMENT;
    const uint64_t end = start + length;
    const size_t idSize = wide ? 8 : 4;
    if (length < idSize)
        return VXCRASH_STATUS_INVALID_ARGUMENT;

    uint64_t pointer;
    if (vxcrash_async_dwarf_read_uintmax64(mobj, bo, start, 0, uint8_t(idSize), &pointer) != VXCRASH_STATUS_OK)
        return VXCRASH_STATUS_INVALID_ARGUMENT;
    uint64_t cieAddress;
    if (debug_frame) {
        if ((!wide && int32_t(pointer) < 0) || (wide && int64_t(pointer) < 0) || UINT64_MAX - section < pointer)
            return VXCRASH_STATUS_INVALID_ARGUMENT;
        info->cie_offset = pointer;
        cieAddress = section + pointer;
    } else {
        // Relative to the pointer field itself.
        if (pointer > start)
            return VXCRASH_STATUS_INVALID_ARGUMENT;
        cieAddress = start - pointer;
        if (cieAddress < section)
            return VXCRASH_STATUS_INVALID_ARGUMENT;
        info->cie_offset = cieAddress - section;
    }

    gnu_ehptr_reader<machine_ptr> fresh(bo);
    vxcrash_async_dwarf_cie_info<machine_ptr> cie;
    if ((err = vxcrash_async_dwarf_cie_info_init(&cie, mobj, bo, &fresh, cieAddress)) != VXCRASH_STATUS_OK)
        return err;
    const uint8_t encoding = cie.has_eh_augmentation && cie.eh_augmentation.has_pointer_encoding
                                 ? cie.eh_augmentation.pointer_encoding
                                 : uint8_t(DW_EH_PE_absptr);

    uint64_t at = start + idSize;
    size_t n;
    machine_ptr pc_start;
    machine_ptr range;
    if (at >= end)
        return VXCRASH_STATUS_INVALID_ARGUMENT;
    if ((err = fresh.read(mobj, at, 0, encoding, &pc_start, &n)) != VXCRASH_STATUS_OK)
        return err;
    at += n;
    if (at >= end)
        return VXCRASH_STATUS_INVALID_ARGUMENT;
    if ((err = fresh.read(mobj, at, 0, uint8_t(encoding & 0x0F), &range, &n)) != VXCRASH_STATUS_OK)
        return err;
    at += n;
    if (machine_ptr(~machine_ptr(0)) - pc_start < range)
        return VXCRASH_STATUS_INVALID_ARGUMENT;
    info->pc_start = pc_start;
    info->pc_end = machine_ptr(pc_start + range);

    if (cie.has_eh_augmentation) {
        uint64_t data_length;
        if ((err = vxcrash_async_dwarf_read_uleb128(mobj, at, 0, &data_length, &n)) != VXCRASH_STATUS_OK)
            return err;
        at += n;
        if (at > end || data_length > end - at)
            return VXCRASH_STATUS_INVALID_ARGUMENT;
        at += data_length;
    }
    if (at > end)
        return VXCRASH_STATUS_INVALID_ARGUMENT;
    info->instructions_offset = at - section;
    info->instructions_length = end - at;
    return VXCRASH_STATUS_OK;
}

template <typename machine_ptr>
uint64_t vxcrash_async_dwarf_fde_info_instructions_offset(const vxcrash_async_dwarf_fde_info<machine_ptr>* i)
{
    return i->instructions_offset;
}
template <typename machine_ptr>
uint64_t vxcrash_async_dwarf_fde_info_instructions_length(const vxcrash_async_dwarf_fde_info<machine_ptr>* i)
{
    return i->instructions_length;
}
template <typename machine_ptr>
void vxcrash_async_dwarf_fde_info_free(vxcrash_async_dwarf_fde_info<machine_ptr>*)
{
}

template <typename machine_ptr>
class dwarf_frame_reader {
public:
    vxcrash_error_t init(const vxcrash_async_mobject* mobj, const vxcrash_async_byteorder* byteorder, bool m64,
                         bool debug_frame)
    {
        mobj_ = mobj;
        byteorder_ = byteorder;
        m64_ = m64;
        debug_frame_ = debug_frame;
        return VXCRASH_STATUS_OK;
    }

    vxcrash_error_t find_fde(uint64_t offset, machine_ptr pc, vxcrash_async_dwarf_fde_info<machine_ptr>* fde) const
    {
        const uint64_t section = vxcrash_async_mobject_base_address(mobj_);
        const uint64_t size = vxcrash_async_mobject_length(mobj_);
        if (offset > size)
            return VXCRASH_STATUS_INVALID_ARGUMENT;
        uint64_t at = section + offset;
        const uint64_t end = section + size;
        while (at < end) {
            uint64_t length;
            size_t header;
            bool wide;
            vxcrash_error_t err = detail::read_entry_length(mobj_, byteorder_, at, &length, &header, &wide);
            if (err != VXCRASH_STATUS_OK)
                return err;
            if (length == 0)
                return VXCRASH_STATUS_NOT_FOUND;
            uint64_t id;
            const uint8_t idSize = wide ? 8 : 4;
            if (vxcrash_async_dwarf_read_uintmax64(mobj_, byteorder_, at + header, 0, idSize, &id) != VXCRASH_STATUS_OK)
                return VXCRASH_STATUS_INVALID_ARGUMENT;
            const uint64_t cieMark = debug_frame_ ? (wide ? ~uint64_t(0) : 0xFFFFFFFFu) : 0;
            if (id != cieMark) {
                if ((err = vxcrash_async_dwarf_fde_info_init(fde, mobj_, byteorder_, at, debug_frame_)) !=
                    VXCRASH_STATUS_OK)
                    return err;
                if (fde->pc_start <= pc && pc < fde->pc_end)
                    return VXCRASH_STATUS_OK;
            }
            if (end - at - header < length)
                return VXCRASH_STATUS_NOT_FOUND;
            at += header + length;
        }
        return VXCRASH_STATUS_NOT_FOUND;
    }

    const vxcrash_async_mobject* mobj() const { return mobj_; }
    const vxcrash_async_byteorder* byteorder() const { return byteorder_; }
    bool debug_frame() const { return debug_frame_; }

private:
    const vxcrash_async_mobject* mobj_ = nullptr;
    const vxcrash_async_byteorder* byteorder_ = nullptr;
    bool m64_ = true;
    bool debug_frame_ = false;
};

} // namespace vxcrash::async
