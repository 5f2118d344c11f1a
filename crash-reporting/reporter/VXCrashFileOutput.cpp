#include "crash-reporting/reporter/VXCrashFileOutput.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace {

bool writeAll(int fd, const void* data, size_t length)
{
    const auto* bytes = static_cast<const uint8_t*>(data);
    while (length > 0) {
        const ssize_t written = ::write(fd, bytes, length);
        if (written <= 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        bytes += written;
        length -= size_t(written);
    }
    return true;
}

} // namespace

VXCrashFileOutput::VXCrashFileOutput(int fd, uint64_t limit) : fd_(fd), limit_(limit) { }

bool VXCrashFileOutput::write(const void* data, size_t length)
{
    if (limit_ != 0) {
        if (total_ + length > limit_)
            return false;
        total_ += length;
    }
    if (buffered_ + length > kBufferSize && !flush())
        return false;
    if (length > kBufferSize)
        return writeAll(fd_, data, length);
    std::memcpy(buffer_ + buffered_, data, length);
    buffered_ += length;
    return true;
}

bool VXCrashFileOutput::flush()
{
    const size_t pending = buffered_;
    buffered_ = 0;
    return pending == 0 || writeAll(fd_, buffer_, pending);
}

bool VXCrashFileOutput::close()
{
    const bool flushed = flush();
    return ::close(fd_) == 0 && flushed;
}
