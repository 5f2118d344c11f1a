#include "crash-reporting/reporter/VXCrashAsyncMObject.h"

#include <sys/mman.h>

vxcrash_error_t vxcrash_async_mobject_init(vxcrash_async_mobject* mobj, vxcrash_task_t task, uint64_t task_address,
                                           uint64_t length, bool require_full)
{
    vxcrash_async_memset(mobj, 0, sizeof *mobj);
    const uint64_t pageMask = vxcrash_async_page_size() - 1;
    if (length == 0 || UINT64_MAX - task_address < length || UINT64_MAX - (task_address + length) < pageMask)
        return VXCRASH_STATUS_NO_MEMORY;
    const uint64_t start = task_address & ~pageMask;
    const uint64_t end = (task_address + length + pageMask) & ~pageMask;
    const uint64_t wanted = end - start;
    if (wanted > SIZE_MAX)
        return VXCRASH_STATUS_NO_MEMORY;

    void* local = mmap(nullptr, size_t(wanted), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (local == MAP_FAILED)
        return VXCRASH_STATUS_INTERNAL;

    vxcrash_error_t status = VXCRASH_STATUS_OK;
    const size_t copied = vxcrash_async_task_read_partial(task, start, local, size_t(wanted), &status);
    // A read stops at the first unreadable byte: a page boundary in a real
    // process, possibly inside a page for a fake one.
    const uint64_t inPage = task_address - start;
    if (copied <= inPage || (require_full && copied - inPage < length)) {
        munmap(local, size_t(wanted));
        return VXCRASH_STATUS_NO_MEMORY;
    }
    const size_t mapped = size_t((copied + pageMask) & ~pageMask);
    if (mapped < wanted)
        munmap(static_cast<uint8_t*>(local) + mapped, size_t(wanted) - mapped);
    mprotect(local, mapped, PROT_READ);

    mobj->task = task;
    mobj->vm_address = reinterpret_cast<uintptr_t>(local);
    mobj->vm_length = mapped;
    mobj->address = mobj->vm_address + uintptr_t(inPage);
    mobj->task_address = task_address;
    mobj->length = length < copied - inPage ? length : copied - inPage;
    mobj->address_offset = int64_t(task_address - uint64_t(mobj->address));
    return VXCRASH_STATUS_OK;
}

void vxcrash_async_mobject_free(vxcrash_async_mobject* mobj)
{
    if (mobj->vm_address)
        munmap(reinterpret_cast<void*>(mobj->vm_address), mobj->vm_length);
    mobj->vm_address = 0;
    mobj->vm_length = 0;
    mobj->length = 0;
}

uint64_t vxcrash_async_mobject_base_address(const vxcrash_async_mobject* mobj) { return mobj->task_address; }
uint64_t vxcrash_async_mobject_length(const vxcrash_async_mobject* mobj) { return mobj->length; }
vxcrash_task_t vxcrash_async_mobject_task(const vxcrash_async_mobject* mobj) { return mobj->task; }

bool vxcrash_async_mobject_verify_local_pointer(const vxcrash_async_mobject* mobj, uintptr_t address, int64_t offset,
                                                size_t length)
{
    uint64_t p;
    if (!vxcrash_async_address_apply_offset(address, offset, &p))
        return false;
    if (UINT64_MAX - p < length)
        return false;
    return p >= mobj->address && p + length <= uint64_t(mobj->address) + mobj->length;
}

void* vxcrash_async_mobject_remap_address(const vxcrash_async_mobject* mobj, uint64_t task_address, int64_t offset,
                                          size_t length)
{
    // Unsigned arithmetic wraps the same way the offset was formed, so the
    // subtraction is exact for every address inside the object.
    const uint64_t local = task_address - uint64_t(mobj->address_offset);
    if (!vxcrash_async_mobject_verify_local_pointer(mobj, uintptr_t(local), offset, length))
        return nullptr;
    return reinterpret_cast<void*>(uintptr_t(local + uint64_t(offset)));
}

namespace {

template <typename T>
vxcrash_error_t readValue(const vxcrash_async_mobject* mobj, uint64_t address, int64_t offset, T* raw)
{
    const void* p = vxcrash_async_mobject_remap_address(mobj, address, offset, sizeof(T));
    if (!p)
        return VXCRASH_STATUS_INVALID_ARGUMENT;
    __builtin_memcpy(raw, p, sizeof(T));
    return VXCRASH_STATUS_OK;
}

} // namespace

vxcrash_error_t vxcrash_async_mobject_read_uint8(const vxcrash_async_mobject* mobj, uint64_t address, int64_t offset,
                                                 uint8_t* result)
{
    return readValue(mobj, address, offset, result);
}

vxcrash_error_t vxcrash_async_mobject_read_uint16(const vxcrash_async_mobject* mobj,
                                                  const vxcrash_async_byteorder* byteorder, uint64_t address,
                                                  int64_t offset, uint16_t* result)
{
    uint16_t raw;
    const vxcrash_error_t err = readValue(mobj, address, offset, &raw);
    if (err == VXCRASH_STATUS_OK)
        *result = byteorder->swap16(raw);
    return err;
}

vxcrash_error_t vxcrash_async_mobject_read_uint32(const vxcrash_async_mobject* mobj,
                                                  const vxcrash_async_byteorder* byteorder, uint64_t address,
                                                  int64_t offset, uint32_t* result)
{
    uint32_t raw;
    const vxcrash_error_t err = readValue(mobj, address, offset, &raw);
    if (err == VXCRASH_STATUS_OK)
        *result = byteorder->swap32(raw);
    return err;
}

vxcrash_error_t vxcrash_async_mobject_read_uint64(const vxcrash_async_mobject* mobj,
                                                  const vxcrash_async_byteorder* byteorder, uint64_t address,
                                                  int64_t offset, uint64_t* result)
{
    uint64_t raw;
    const vxcrash_error_t err = readValue(mobj, address, offset, &raw);
    if (err == VXCRASH_STATUS_OK)
        *result = byteorder->swap64(raw);
    return err;
}
