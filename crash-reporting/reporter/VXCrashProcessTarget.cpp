#include "crash-reporting/reporter/VXCrashProcessTarget.h"

#include "crash-reporting/reporter/VXCrashThreadList.h"

VXCrashProcessTarget::VXCrashProcessTarget() = default;

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
    walking_ = static_cast<const ucontext_t*>(captured);
    if (!walking_) {
        for (size_t i = 0; i < vxcrash_async_threads_count(); ++i) {
            const vxcrash_thread_info info = vxcrash_async_threads_get(i);
            if (info.tid == thread)
                walking_ = info.context;
        }
    }
    if (!walking_)
        return false;
#if defined(__x86_64__)
    pc_ = uint64_t(walking_->uc_mcontext.gregs[REG_RIP]);
#endif
    return true;
}

bool VXCrashProcessTarget::walkPc(uint64_t* pc)
{
    *pc = pc_;
    return true;
}

bool VXCrashProcessTarget::walkNext()
{
    return false;
}

void VXCrashProcessTarget::walkEnd()
{
    walking_ = nullptr;
}

size_t VXCrashProcessTarget::registerCount()
{
    return 0;
}

const char* VXCrashProcessTarget::registerName(size_t)
{
    return nullptr;
}

bool VXCrashProcessTarget::registerValue(size_t, uint64_t*)
{
    return false;
}

void VXCrashProcessTarget::imagesBeginRead() { }

void VXCrashProcessTarget::imagesEndRead() { }

const void* VXCrashProcessTarget::nextImage(const void*, vxcrash_writer_image*)
{
    return nullptr;
}

const void* VXCrashProcessTarget::imageContaining(uint64_t)
{
    return nullptr;
}

bool VXCrashProcessTarget::crashInfoMessage(const void*, char*, size_t)
{
    return false;
}

int VXCrashProcessTarget::prepareSymbols()
{
    return 0;
}

void VXCrashProcessTarget::releaseSymbols() { }

bool VXCrashProcessTarget::findSymbol(const void*, uint64_t, uint32_t, char*, size_t, uint64_t*)
{
    return false;
}
