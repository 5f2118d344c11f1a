#pragma once

#include "crash-reporting/reporter/VXCrashAsyncImageList.h"
#include "crash-reporting/reporter/VXCrashAsyncSymbols.h"
#include "crash-reporting/reporter/VXCrashFrameCursor.h"
#include "crash-reporting/reporter/VXCrashWriterTarget.h"

#include <ucontext.h>

// The running process as the crash log writer reads it: threads from
// /proc/self/task, stopped by the reserved real-time signal; stacks walked
// from each thread's saved registers; the loaded images. Captured states
// handed to the writer are `const ucontext_t*`. Async-signal-safe.
class VXCrashProcessTarget final : public VXCrashWriterTarget {
    static constexpr size_t kRememberedNameMax = 256;

public:
    // Reads the images of `images`, the process's shared list by default.
    explicit VXCrashProcessTarget(vxcrash_async_image_list* images = nullptr);

    bool suspendThreads() override;
    void resumeThreads() override;
    size_t threadCount() override;
    pid_t threadId(size_t index) override;
    pid_t currentThreadId() override;

    bool walkBegin(pid_t thread, const void* captured) override;
    bool walkPc(uint64_t* pc) override;
    bool walkNext() override;
    void walkEnd() override;
    size_t registerCount() override;
    const char* registerName(size_t index) override;
    bool registerValue(size_t index, uint64_t* value) override;

    void imagesBeginRead() override;
    void imagesEndRead() override;
    const void* nextImage(const void* current, vxcrash_writer_image* info) override;
    const void* imageContaining(uint64_t address) override;
    bool crashInfoMessage(const void* image, char* buffer, size_t capacity) override;

    int prepareSymbols() override;
    void releaseSymbols() override;
    bool findSymbol(const void* image, uint64_t pc, uint32_t strategy, char* name, size_t capacity,
                    uint64_t* start) override;

private:
    vxframe_status_t step();

    // The last few symbols found. A deep stack repeats the same few return
    // addresses (an overflow is one function calling itself), and each thread
    // is written twice (sized, then written): without these, every frame
    // scans a whole symbol table again.
    struct RememberedSymbol {
        const void* image = nullptr;
        uint64_t pc = 0;
        uint32_t strategy = 0;
        bool found = false;
        uint64_t start = 0;
        char name[kRememberedNameMax];
    };
    static constexpr size_t kRememberedSymbols = 4;

    vxcrash_async_image_list* images_;
    bool suspended_ = false;
    bool walking_ = false;
    vxframe_cursor cursor_;
    uint8_t uuid_[16];
    vxcrash_async_symbol_cache symbols_;
    bool symbolsReady_ = false;
    RememberedSymbol remembered_[kRememberedSymbols];
    size_t nextRemembered_ = 0;
};
