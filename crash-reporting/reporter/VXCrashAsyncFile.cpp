#include "crash-reporting/reporter/VXCrashAsyncFile.h"

#include "crash-reporting/reporter/VXCrashAsync.h"

#include <unistd.h>

#include <cerrno>

ssize_t vxcrash_async_writen(int fd, const void* data, size_t length)
{
    const auto* p = static_cast<const uint8_t*>(data);
    size_t left = length;
    while (left > 0) {
        const ssize_t n = write(fd, p, left);
        if (n <= 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        p += n;
        left -= size_t(n);
    }
    return ssize_t(length);
}

void vxcrash_async_file_init(vxcrash_async_file* file, int fd, uint64_t limit)
{
    file->fd = fd;
    file->limit = limit;
    file->total_bytes = 0;
    file->buflen = 0;
}

bool vxcrash_async_file_write(vxcrash_async_file* file, const void* data, size_t length)
{
    if (file->limit != 0) {
        if (length > file->limit - file->total_bytes)
            return false;
        file->total_bytes += length;
    }
    if (file->buflen + length > sizeof file->buffer) {
        if (!vxcrash_async_file_flush(file))
            return false;
    }
    if (length > sizeof file->buffer)
        return vxcrash_async_writen(file->fd, data, length) >= 0;
    vxcrash_async_memcpy(file->buffer + file->buflen, data, length);
    file->buflen += length;
    return true;
}

bool vxcrash_async_file_flush(vxcrash_async_file* file)
{
    if (file->buflen == 0)
        return true;
    if (vxcrash_async_writen(file->fd, file->buffer, file->buflen) < 0)
        return false;
    file->buflen = 0;
    return true;
}

bool vxcrash_async_file_close(vxcrash_async_file* file)
{
    if (!vxcrash_async_file_flush(file))
        return false;
    return close(file->fd) == 0;
}
