#pragma once

#include "crash-reporting/reporter/VXCrashWriterPack.h"

#include <cstddef>
#include <cstdint>

// The writer's bytes into an open descriptor, buffered, with an optional cap
// on the total. Async-signal-safe: write(2) and close(2) only.
class VXCrashFileOutput final : public VXCrashWriterOutput {
public:
    // `limit` 0 means no cap.
    VXCrashFileOutput(int fd, uint64_t limit);
    bool write(const void* data, size_t length) override;
    bool flush();
    // Flushes, then closes the descriptor.
    bool close();

private:
    static constexpr size_t kBufferSize = 256;

    int fd_;
    uint64_t limit_;
    uint64_t total_ = 0;
    size_t buffered_ = 0;
    uint8_t buffer_[kBufferSize];
};
