#pragma once

#include <cstddef>
#include <cstdint>
#include <sys/types.h>

// One loaded image as the report lists it.
struct vxcrash_writer_image {
    uint64_t base_address;
    uint64_t size;
    const char* name;
    // The image's identifier (a Mach-O UUID, or an ELF build-id); null when it has none.
    const uint8_t* uuid;
    size_t uuid_length;
    bool has_code_type;
    uint64_t cpu_type;
    uint64_t cpu_subtype;
};

// What the crash log writer reads of a process: its threads, their stacks,
// its images and their symbols. The real implementation reads the running
// process; tests give fixed answers. Every member is called at crash time and
// must be async-signal-safe.
class VXCrashWriterTarget {
public:
    // Lists the threads and stops every one but the caller. False when no
    // list could be had; resumeThreads is called either way.
    virtual bool suspendThreads() = 0;
    virtual void resumeThreads() = 0;
    virtual size_t threadCount() = 0;
    virtual pid_t threadId(size_t index) = 0;
    virtual pid_t currentThreadId() = 0;

    // Starts a walk of one thread's stack at its first frame: from `captured`
    // (a state captured by the caller) when given, else from the registers
    // the thread was stopped with. False when there is no first frame.
    virtual bool walkBegin(pid_t thread, const void* captured) = 0;
    // The current frame's instruction pointer.
    virtual bool walkPc(uint64_t* pc) = 0;
    // Steps to the caller's frame; false at the end of the stack or on failure.
    virtual bool walkNext() = 0;
    virtual void walkEnd() = 0;
    // The registers of the current frame, in the architecture's order.
    virtual size_t registerCount() = 0;
    virtual const char* registerName(size_t index) = 0;
    virtual bool registerValue(size_t index, uint64_t* value) = 0;

    // Walks of the image list are bracketed by these.
    virtual void imagesBeginRead() = 0;
    virtual void imagesEndRead() = 0;
    // The image after `current` (the first for null), or null at the end;
    // fills `info` for the returned image.
    virtual const void* nextImage(const void* current, vxcrash_writer_image* info) = 0;
    virtual const void* imageContaining(uint64_t address) = 0;
    // Copies the image's crash-info message (at most capacity - 1 bytes, then
    // a NUL). False when it has none.
    virtual bool crashInfoMessage(const void* image, char* buffer, size_t capacity) = 0;

    // Symbols: prepared once per report; a failure to prepare ends the write.
    virtual int prepareSymbols() = 0;
    virtual void releaseSymbols() = 0;
    // The symbol containing `pc` with the given strategy: its name (at most
    // capacity - 1 bytes, then a NUL) and start address.
    virtual bool findSymbol(const void* image, uint64_t pc, uint32_t strategy, char* name, size_t capacity,
                            uint64_t* start) = 0;

protected:
    ~VXCrashWriterTarget() = default;
};
