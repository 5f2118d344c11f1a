#include "crash-reporting/reporter/VXCrashInfoMessage.h"

#include <atomic>
#include <dlfcn.h>

namespace {

constexpr uint64_t kCrashInfoMinimumSize = 40;
constexpr uint32_t kCrashInfoVersions[] = {4, 5};
constexpr int64_t kCrashInfoMessageOffset = 8;
constexpr int64_t kCrashInfoMessage2Offset = 32;
const char* const kCrashInfoSegments[] = {"__DATA", "__DATA_CONST", "__DATA_DIRTY"};

// Address of the C library's `struct abort_msg_s *__abort_msg`; 0 when unknown.
std::atomic<uint64_t> g_abortMessageVariable{0};

// Copies the NUL-terminated text at `address` in the task, cut to fit.
bool copyText(vxcrash_task_t task, uint64_t address, char* buffer, size_t capacity)
{
    if (address == 0 || capacity == 0)
        return false;
    vxcrash_error_t status = VXCRASH_STATUS_OK;
    const size_t copied = vxcrash_async_task_read_partial(task, address, buffer, capacity - 1, &status);
    if (copied == 0)
        return false;
    size_t length = 0;
    while (length < copied && buffer[length] != '\0')
        ++length;
    buffer[length] = '\0';
    return true;
}

bool abortMessage(vxcrash_task_t task, char* buffer, size_t capacity)
{
    const uint64_t variable = g_abortMessageVariable.load(std::memory_order_acquire);
    uint64_t block = 0;
    if (variable == 0 || vxcrash_async_task_read_uint64(task, vxcrash_async_byteorder_little_endian(), variable, 0,
                                                        &block)
                             != VXCRASH_STATUS_OK)
        return false;
    // struct abort_msg_s { unsigned int size; char msg[]; }
    return copyText(task, block + sizeof(uint32_t), buffer, capacity) && buffer[0] != '\0';
}

} // namespace

void vxcrash_nasync_abort_message_init()
{
    if (void* variable = dlsym(RTLD_DEFAULT, "__abort_msg"))
        g_abortMessageVariable.store(uint64_t(uintptr_t(variable)), std::memory_order_release);
}

bool vxcrash_async_macho_crash_info_message(const vxcrash_async_macho* image, char* buffer, size_t capacity)
{
    vxcrash_async_mobject section;
    bool mapped = false;
    for (const char* segment : kCrashInfoSegments) {
        if (vxcrash_async_macho_map_section(image, segment, "__crash_info", &section) == VXCRASH_STATUS_OK) {
            mapped = true;
            break;
        }
    }
    if (!mapped)
        return false;

    bool found = false;
    const vxcrash_async_byteorder* order = vxcrash_async_macho_byteorder(image);
    const uint64_t base = vxcrash_async_mobject_base_address(&section);
    uint32_t version = 0;
    if (vxcrash_async_mobject_length(&section) >= kCrashInfoMinimumSize
        && vxcrash_async_mobject_read_uint32(&section, order, base, 0, &version) == VXCRASH_STATUS_OK
        && (version == kCrashInfoVersions[0] || version == kCrashInfoVersions[1])) {
        for (int64_t offset : {kCrashInfoMessageOffset, kCrashInfoMessage2Offset}) {
            uint64_t pointer = 0;
            if (vxcrash_async_mobject_read_uint64(&section, order, base, offset, &pointer) == VXCRASH_STATUS_OK
                && copyText(image->task, pointer, buffer, capacity)) {
                found = true;
                break;
            }
        }
    }
    vxcrash_async_mobject_free(&section);
    return found;
}

bool vxcrash_async_image_crash_info_message(const vxcrash_async_image* image, char* buffer, size_t capacity)
{
    if (image->format == VXCRASH_IMAGE_FORMAT_MACHO)
        return vxcrash_async_macho_crash_info_message(&image->macho, buffer, capacity);
    const uint64_t variable = g_abortMessageVariable.load(std::memory_order_acquire);
    if (variable == 0 || !vxcrash_async_image_contains_address(image, variable))
        return false;
    return abortMessage(image->elf.task, buffer, capacity);
}
