#pragma once

#include "crash-reporting/reporter/VXCrashAsyncFile.h"
#include "crash-reporting/reporter/VXCrashWriterPack.h"

#include <cstdint>

// The writer's bytes into an open descriptor through the buffered async-safe
// file, with an optional cap on the total.
class VXCrashFileOutput final : public VXCrashWriterOutput {
public:
    // `limit` 0 means no cap.
    VXCrashFileOutput(int fd, uint64_t limit) { vxcrash_async_file_init(&file_, fd, limit); }
    bool write(const void* data, size_t length) override { return vxcrash_async_file_write(&file_, data, length); }
    bool flush() { return vxcrash_async_file_flush(&file_); }
    // Flushes, then closes the descriptor.
    bool close() { return vxcrash_async_file_close(&file_); }

private:
    vxcrash_async_file file_;
};
