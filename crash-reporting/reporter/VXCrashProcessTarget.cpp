#include "crash-reporting/reporter/VXCrashProcessTarget.h"

#include "crash-reporting/reporter/VXCrashEhFrameIndex.h"
#include "crash-reporting/reporter/VXCrashInfoMessage.h"
#include "crash-reporting/reporter/VXCrashSharedImages.h"
#include "crash-reporting/reporter/VXCrashThreadList.h"

#include <cstring>

namespace {

// Bytes of an image identifier kept per image listed.
constexpr size_t kImageIdMax = 32;

struct SymbolResult {
    char* name;
    size_t capacity;
    uint64_t* start;
    bool found;
};

void foundSymbol(uint64_t address, const char* name, void* context)
{
    auto* result = static_cast<SymbolResult*>(context);
    size_t length = 0;
    while (name[length] && length + 1 < result->capacity) {
        result->name[length] = name[length];
        ++length;
    }
    result->name[length] = '\0';
    *result->start = address;
    result->found = true;
}

} // namespace

VXCrashProcessTarget::VXCrashProcessTarget(vxcrash_async_image_list* images)
    : images_(images ? images : vxcrash_shared_image_list())
{
}

bool VXCrashProcessTarget::suspendThreads()
{
    suspended_ = vxcrash_async_threads_suspend();
    return suspended_;
}

void VXCrashProcessTarget::resumeThreads()
{
    if (suspended_)
        vxcrash_async_threads_resume();
    suspended_ = false;
}

size_t VXCrashProcessTarget::threadCount()
{
    return vxcrash_async_threads_count();
}

pid_t VXCrashProcessTarget::threadId(size_t index)
{
    return vxcrash_async_threads_get(index).tid;
}

pid_t VXCrashProcessTarget::currentThreadId()
{
    return vxcrash_async_gettid();
}

bool VXCrashProcessTarget::walkBegin(pid_t thread, const void* captured)
{
    const auto* context = static_cast<const ucontext_t*>(captured);
    if (!context) {
        for (size_t i = 0; i < vxcrash_async_threads_count(); ++i) {
            const vxcrash_thread_info info = vxcrash_async_threads_get(i);
            if (info.tid == thread)
                context = info.context;
        }
    }
    if (!context)
        return false;
    vxcrash_async_thread_state state;
    vxcrash_async_thread_state_mcontext_init(&state, &context->uc_mcontext);
    if (vxframe_cursor_init(&cursor_, vxcrash_async_task_self(), &state, images_) != VXCRASH_STATUS_OK)
        return false;
    // The first step yields the starting frame itself.
    if (step() != VXFRAME_STATUS_OK) {
        vxframe_cursor_free(&cursor_);
        return false;
    }
    walking_ = true;
    return true;
}

vxframe_status_t VXCrashProcessTarget::step()
{
    return vxframe_cursor_next_with_readers(&cursor_, kVXCrashIndexedFrameReaders,
                                            sizeof kVXCrashIndexedFrameReaders / sizeof *kVXCrashIndexedFrameReaders);
}

bool VXCrashProcessTarget::walkPc(uint64_t* pc)
{
    return walking_ && vxframe_cursor_get_reg(&cursor_, VXCRASH_REG_IP, pc) == VXFRAME_STATUS_OK;
}

bool VXCrashProcessTarget::walkNext()
{
    return walking_ && step() == VXFRAME_STATUS_OK;
}

void VXCrashProcessTarget::walkEnd()
{
    if (walking_)
        vxframe_cursor_free(&cursor_);
    walking_ = false;
}

size_t VXCrashProcessTarget::registerCount()
{
    return walking_ ? vxframe_cursor_get_regcount(&cursor_) : 0;
}

const char* VXCrashProcessTarget::registerName(size_t index)
{
    return vxframe_cursor_get_regname(&cursor_, vxcrash_regnum_t(index));
}

bool VXCrashProcessTarget::registerValue(size_t index, uint64_t* value)
{
    return vxframe_cursor_get_reg(&cursor_, vxcrash_regnum_t(index), value) == VXFRAME_STATUS_OK;
}

void VXCrashProcessTarget::imagesBeginRead()
{
    vxcrash_async_image_list_set_reading(images_, true);
}

void VXCrashProcessTarget::imagesEndRead()
{
    vxcrash_async_image_list_set_reading(images_, false);
}

const void* VXCrashProcessTarget::nextImage(const void* current, vxcrash_writer_image* info)
{
    auto* image = vxcrash_async_image_list_next(
        images_, const_cast<vxcrash_async_image*>(static_cast<const vxcrash_async_image*>(current)));
    if (!image)
        return nullptr;
    static_assert(sizeof image->elf.build_id <= kImageIdMax);
    info->base_address = vxcrash_async_image_header_addr(image);
    info->size = vxcrash_async_image_size(image);
    info->name = vxcrash_async_image_name(image);
    info->uuid = nullptr;
    info->uuid_length = 0;
    if (image->format == VXCRASH_IMAGE_FORMAT_ELF) {
        info->uuid = image->elf.build_id;
        info->uuid_length = image->elf.build_id_length;
    } else if (image->format == VXCRASH_IMAGE_FORMAT_MACHO) {
        if (vxcrash_async_macho_uuid(&image->macho, uuid_)) {
            info->uuid = uuid_;
            info->uuid_length = sizeof uuid_;
        }
    }
    info->has_code_type = true;
    info->cpu_type = uint64_t(uint32_t(vxcrash_async_image_cpu_type(image)));
    info->cpu_subtype = uint64_t(uint32_t(vxcrash_async_image_cpu_subtype(image)));
    return image;
}

const void* VXCrashProcessTarget::imageContaining(uint64_t address)
{
    vxcrash_async_image_list_set_reading(images_, true);
    const void* image = vxcrash_async_image_containing_address(images_, address);
    vxcrash_async_image_list_set_reading(images_, false);
    return image;
}

bool VXCrashProcessTarget::crashInfoMessage(const void* image, char* buffer, size_t capacity)
{
    return vxcrash_async_image_crash_info_message(static_cast<const vxcrash_async_image*>(image), buffer, capacity);
}

int VXCrashProcessTarget::prepareSymbols()
{
    const vxcrash_error_t status = vxcrash_async_symbol_cache_init(&symbols_);
    symbolsReady_ = status == VXCRASH_STATUS_OK;
    return status;
}

void VXCrashProcessTarget::releaseSymbols()
{
    if (symbolsReady_)
        vxcrash_async_symbol_cache_free(&symbols_);
    symbolsReady_ = false;
    for (RememberedSymbol& known : remembered_)
        known = RememberedSymbol{};
    nextRemembered_ = 0;
}

bool VXCrashProcessTarget::findSymbol(const void* image, uint64_t pc, uint32_t strategy, char* name, size_t capacity,
                                      uint64_t* start)
{
    if (!symbolsReady_)
        return false;
    if (capacity == 0)
        return false;
    for (const RememberedSymbol& known : remembered_) {
        if (known.image == image && known.pc == pc && known.strategy == strategy) {
            if (!known.found)
                return false;
            SymbolResult copy{name, capacity, start, false};
            foundSymbol(known.start, known.name, &copy);
            return true;
        }
    }
    auto* found = const_cast<vxcrash_async_image*>(static_cast<const vxcrash_async_image*>(image));
    SymbolResult result{name, capacity, start, false};
    const bool ok = vxcrash_async_find_symbol(found, strategy, &symbols_, pc, foundSymbol, &result) == VXCRASH_STATUS_OK
                    && result.found;
    // Only whole names are remembered, so a later caller never gets a cut one.
    const size_t length = ok ? std::strlen(name) : 0;
    if (!ok || (length + 1 < capacity && length + 1 < kRememberedNameMax)) {
        RememberedSymbol& slot = remembered_[nextRemembered_];
        nextRemembered_ = (nextRemembered_ + 1) % kRememberedSymbols;
        slot.image = image;
        slot.pc = pc;
        slot.strategy = strategy;
        slot.found = ok;
        slot.start = ok ? *start : 0;
        SymbolResult copy{slot.name, sizeof slot.name, &slot.start, false};
        if (ok)
            foundSymbol(*start, name, &copy);
        else
            slot.name[0] = '\0';
    }
    return ok;
}
