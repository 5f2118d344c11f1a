#include "crash-reporting/reporter/VXCrashAsync.h"

#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>

const char* vxcrash_async_strerror(vxcrash_error_t error)
{
    switch (error) {
    case VXCRASH_STATUS_OK: return "No error";
    case VXCRASH_STATUS_UNKNOWN: return "Unknown error";
    case VXCRASH_STATUS_OUTPUT: return "Output file can not be opened (or written to)";
    case VXCRASH_STATUS_NO_MEMORY: return "No memory available";
    case VXCRASH_STATUS_UNSUPPORTED: return "Operation not supported";
    case VXCRASH_STATUS_INVALID_ARGUMENT: return "Invalid argument";
    case VXCRASH_STATUS_INTERNAL: return "Internal error";
    case VXCRASH_STATUS_ACCESS_DENIED: return "Access denied";
    case VXCRASH_STATUS_NOT_FOUND: return "Not found";
    case VXCRASH_STATUS_INVALID_DATA: return "The input data is in an unknown or invalid format.";
    }
    return "Unhandled error code";
}

namespace {

uint16_t keep16(uint16_t v) { return v; }
uint32_t keep32(uint32_t v) { return v; }
uint64_t keep64(uint64_t v) { return v; }
uint16_t swap16(uint16_t v) { return __builtin_bswap16(v); }
uint32_t swap32(uint32_t v) { return __builtin_bswap32(v); }
uint64_t swap64(uint64_t v) { return __builtin_bswap64(v); }

constexpr vxcrash_async_byteorder kLittleEndian = {keep16, keep32, keep64};
constexpr vxcrash_async_byteorder kBigEndian = {swap16, swap32, swap64};

size_t fakeReadPartial(vxcrash_task_t task, uint64_t address, void* dest, size_t length)
{
    auto* out = static_cast<uint8_t*>(dest);
    size_t copied = 0;
    while (copied < length) {
        const uint64_t at = address + copied;
        const vxcrash_task_region* found = nullptr;
        for (size_t i = 0; i < task->region_count; ++i) {
            const vxcrash_task_region& r = task->regions[i];
            if (at >= r.address && at - r.address < r.length) {
                found = &r;
                break;
            }
        }
        if (!found)
            break;
        const uint64_t inRegion = at - found->address;
        uint64_t n = found->length - inRegion;
        if (n > length - copied)
            n = length - copied;
        vxcrash_async_memcpy(out + copied, static_cast<const uint8_t*>(found->bytes) + inRegion, size_t(n));
        copied += size_t(n);
    }
    return copied;
}

} // namespace

const vxcrash_async_byteorder* vxcrash_async_byteorder_little_endian() { return &kLittleEndian; }
const vxcrash_async_byteorder* vxcrash_async_byteorder_big_endian() { return &kBigEndian; }

vxcrash_task_t vxcrash_async_task_self()
{
    // A pid of 0 stands for "this process"; getpid() is asked at read time so
    // the answer stays right in a forked child.
    static const vxcrash_task self = {0, nullptr, 0};
    return &self;
}

namespace {

// Read once at start-up: a function-local static would take the guard lock on
// first use, which may be inside a signal handler.
const uint64_t startupPageSize = uint64_t(sysconf(_SC_PAGESIZE));

} // namespace

uint64_t vxcrash_async_page_size()
{
    return startupPageSize ? startupPageSize : uint64_t(sysconf(_SC_PAGESIZE));
}

bool vxcrash_async_address_apply_offset(uint64_t base, int64_t offset, uint64_t* result)
{
    if (offset >= 0) {
        if (UINT64_MAX - base < uint64_t(offset))
            return false;
        *result = base + uint64_t(offset);
    } else {
        const uint64_t magnitude = uint64_t(-(offset + 1)) + 1;
        if (magnitude > base)
            return false;
        *result = base - magnitude;
    }
    return true;
}

size_t vxcrash_async_task_read_partial(vxcrash_task_t task, uint64_t address, void* dest, size_t length,
                                       vxcrash_error_t* status)
{
    if (status)
        *status = VXCRASH_STATUS_OK;
    if (length == 0)
        return 0;
    if (task->regions || task->region_count) {
        const size_t n = fakeReadPartial(task, address, dest, length);
        if (n == 0 && status)
            *status = VXCRASH_STATUS_NOT_FOUND;
        return n;
    }
    const pid_t pid = task->pid ? task->pid : getpid();
    const int savedErrno = errno;
    size_t copied = 0;
    while (copied < length) {
        struct iovec local = {static_cast<uint8_t*>(dest) + copied, length - copied};
        struct iovec remote = {reinterpret_cast<void*>(uintptr_t(address + copied)), length - copied};
        const ssize_t n = process_vm_readv(pid, &local, 1, &remote, 1, 0);
        if (n > 0) {
            copied += size_t(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (copied == 0 && status) {
            if (n < 0 && (errno == EPERM || errno == EACCES))
                *status = VXCRASH_STATUS_ACCESS_DENIED;
            else if (n < 0 && errno == EFAULT)
                *status = VXCRASH_STATUS_NOT_FOUND;
            else
                *status = VXCRASH_STATUS_UNKNOWN;
        }
        break;
    }
    errno = savedErrno;
    return copied;
}

vxcrash_error_t vxcrash_async_task_memcpy(vxcrash_task_t task, uint64_t address, int64_t offset, void* dest,
                                          size_t length)
{
    uint64_t start;
    if (!vxcrash_async_address_apply_offset(address, offset, &start))
        return VXCRASH_STATUS_NO_MEMORY;
    if (length > 0 && UINT64_MAX - start < length - 1)
        return VXCRASH_STATUS_NO_MEMORY;
    vxcrash_error_t status = VXCRASH_STATUS_OK;
    const size_t n = vxcrash_async_task_read_partial(task, start, dest, length, &status);
    if (n == length)
        return VXCRASH_STATUS_OK;
    return status != VXCRASH_STATUS_OK ? status : VXCRASH_STATUS_NOT_FOUND;
}

vxcrash_error_t vxcrash_async_task_read_uint8(vxcrash_task_t task, uint64_t address, int64_t offset, uint8_t* result)
{
    return vxcrash_async_task_memcpy(task, address, offset, result, 1);
}

vxcrash_error_t vxcrash_async_task_read_uint16(vxcrash_task_t task, const vxcrash_async_byteorder* byteorder,
                                               uint64_t address, int64_t offset, uint16_t* result)
{
    uint16_t raw;
    const vxcrash_error_t err = vxcrash_async_task_memcpy(task, address, offset, &raw, sizeof raw);
    if (err == VXCRASH_STATUS_OK)
        *result = byteorder->swap16(raw);
    return err;
}

vxcrash_error_t vxcrash_async_task_read_uint32(vxcrash_task_t task, const vxcrash_async_byteorder* byteorder,
                                               uint64_t address, int64_t offset, uint32_t* result)
{
    uint32_t raw;
    const vxcrash_error_t err = vxcrash_async_task_memcpy(task, address, offset, &raw, sizeof raw);
    if (err == VXCRASH_STATUS_OK)
        *result = byteorder->swap32(raw);
    return err;
}

vxcrash_error_t vxcrash_async_task_read_uint64(vxcrash_task_t task, const vxcrash_async_byteorder* byteorder,
                                               uint64_t address, int64_t offset, uint64_t* result)
{
    uint64_t raw;
    const vxcrash_error_t err = vxcrash_async_task_memcpy(task, address, offset, &raw, sizeof raw);
    if (err == VXCRASH_STATUS_OK)
        *result = byteorder->swap64(raw);
    return err;
}

int vxcrash_async_strcmp(const char* a, const char* b)
{
    const auto* x = reinterpret_cast<const unsigned char*>(a);
    const auto* y = reinterpret_cast<const unsigned char*>(b);
    while (*x && *x == *y) {
        ++x;
        ++y;
    }
    return int(*x) - int(*y);
}

int vxcrash_async_strncmp(const char* a, const char* b, size_t n)
{
    const auto* x = reinterpret_cast<const unsigned char*>(a);
    const auto* y = reinterpret_cast<const unsigned char*>(b);
    for (size_t i = 0; i < n; ++i) {
        if (x[i] != y[i])
            return int(x[i]) - int(y[i]);
        if (x[i] == 0)
            return 0;
    }
    return 0;
}

char* vxcrash_async_append_decimal(char* at, uint64_t value)
{
    char digits[20];
    size_t count = 0;
    do {
        digits[count++] = char('0' + value % 10);
        value /= 10;
    } while (value);
    while (count)
        *at++ = digits[--count];
    return at;
}

size_t vxcrash_async_strlen(const char* s)
{
    size_t n = 0;
    while (s[n])
        ++n;
    return n;
}

void* vxcrash_async_memcpy(void* dest, const void* src, size_t n)
{
    // Byte by byte on purpose: the compiler must not turn this into a call to a
    // libc routine that may be instrumented or resolved lazily at crash time.
    volatile uint8_t* d = static_cast<volatile uint8_t*>(dest);
    const uint8_t* s = static_cast<const uint8_t*>(src);
    for (size_t i = 0; i < n; ++i)
        d[i] = s[i];
    return dest;
}

void* vxcrash_async_memset(void* dest, uint8_t value, size_t n)
{
    volatile uint8_t* d = static_cast<volatile uint8_t*>(dest);
    for (size_t i = 0; i < n; ++i)
        d[i] = value;
    return dest;
}
