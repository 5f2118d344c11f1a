#include "crash-reporting/reporter/VXCrashSysctl.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

char* vxcrash_sysctl_string(const char* name)
{
    std::string path = "/proc/sys/";
    for (const char* c = name; *c; ++c)
        path += *c == '.' ? '/' : *c;
    FILE* file = std::fopen(path.c_str(), "re");
    if (!file)
        return nullptr;
    std::string value;
    char chunk[256];
    size_t read;
    while ((read = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        value.append(chunk, read);
    const bool failed = std::ferror(file);
    const int savedErrno = errno;
    std::fclose(file);
    if (failed) {
        errno = savedErrno ? savedErrno : EIO;
        return nullptr;
    }
    while (!value.empty() && (value.back() == '\n' || value.back() == '\0'))
        value.pop_back();
    char* copy = static_cast<char*>(std::malloc(value.size() + 1));
    if (!copy) {
        errno = ENOMEM;
        return nullptr;
    }
    std::memcpy(copy, value.c_str(), value.size() + 1);
    return copy;
}

bool vxcrash_sysctl_int(const char* name, int* result)
{
    char* text = vxcrash_sysctl_string(name);
    if (!text)
        return false;
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text, &end, 10);
    const bool ok = end != text && errno == 0 && value >= INT_MIN && value <= INT_MAX
                    && (*end == '\0' || *end == '\n' || *end == '\t' || *end == ' ');
    std::free(text);
    if (ok)
        *result = int(value);
    return ok;
}

size_t vxcrash_sysctl_valid_utf8_bytes(const char* text)
{
    return vxcrash_sysctl_valid_utf8_bytes_max(text, SIZE_MAX);
}

size_t vxcrash_sysctl_valid_utf8_bytes_max(const char* text, size_t limit)
{
    const auto* bytes = reinterpret_cast<const uint8_t*>(text);
    size_t valid = 0;
    if (limit > 2 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF)
        valid = 3;
    while (valid < limit && bytes[valid] != 0) {
        const uint8_t lead = bytes[valid];
        size_t following;
        if (lead < 0x80)
            following = 0;
        else if ((lead & 0xE0) == 0xC0)
            following = 1;
        else if ((lead & 0xF0) == 0xE0)
            following = 2;
        else if ((lead & 0xF8) == 0xF0)
            following = 3;
        else
            break;
        if (following >= limit - valid)
            break;
        bool complete = true;
        for (size_t i = 1; i <= following; ++i) {
            if ((bytes[valid + i] & 0xC0) != 0x80) {
                complete = false;
                break;
            }
        }
        if (!complete)
            break;
        valid += following + 1;
    }
    return valid;
}
