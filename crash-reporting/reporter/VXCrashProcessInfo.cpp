#include "crash-reporting/reporter/VXCrashProcessInfo.h"

#include "crash-reporting/reporter/VXCrashAsync.h"
#include "crash-reporting/reporter/VXCrashSysctl.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <fcntl.h>
#include <sstream>
#include <unistd.h>

namespace {

// The kernel keeps at most this many bytes of a command name, NUL included.
constexpr size_t kCommandNameBytes = 16;

std::optional<std::string> readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

// Field `number` (counted from 1, the pid) of a /proc/<pid>/stat line, as
// an unsigned number. The command name may itself hold spaces and
// parentheses, so the fields after it are counted from its last ')'.
// Async-signal-safe.
bool statField(const char* stat, size_t length, int number, uint64_t* value)
{
    size_t at = length;
    while (at > 0 && stat[at - 1] != ')')
        --at;
    if (at == 0)
        return false;
    // Field 3 (the state) starts after ") ".
    int field = 2;
    bool inField = false;
    for (; at < length; ++at) {
        const char c = stat[at];
        if (c == ' ' || c == '\n') {
            inField = false;
            continue;
        }
        if (!inField) {
            inField = true;
            if (++field == number)
                break;
        }
    }
    if (field != number || at >= length)
        return false;
    uint64_t result = 0;
    size_t digits = 0;
    for (; at < length && stat[at] >= '0' && stat[at] <= '9'; ++at, ++digits)
        result = result * 10 + uint64_t(stat[at] - '0');
    if (digits == 0)
        return false;
    *value = result;
    return true;
}

constexpr int kParentField = 4;
constexpr int kStartTimeField = 22;

} // namespace

bool VXCrashProcessInfo::startTicks(pid_t pid, uint64_t* ticks)
{
    // "/proc/<pid>/stat" without the C library's formatting.
    char path[40] = "/proc/self/stat";
    if (pid > 0) {
        char* at = vxcrash_async_append_decimal(path + 6, uint64_t(pid)); // after "/proc/"
        vxcrash_async_memcpy(at, "/stat", sizeof "/stat");
    }
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    char stat[2048];
    size_t length = 0;
    for (;;) {
        const ssize_t got = read(fd, stat + length, sizeof stat - length);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        length += size_t(got);
        if (length == sizeof stat)
            break;
    }
    close(fd);
    return statField(stat, length, kStartTimeField, ticks);
}

std::optional<VXCrashProcessInfo::TickClock> VXCrashProcessInfo::TickClock::current()
{
    const auto stat = readFile("/proc/stat");
    const long ticksPerSecond = sysconf(_SC_CLK_TCK);
    if (!stat || ticksPerSecond <= 0)
        return std::nullopt;
    const auto at = stat->find("\nbtime ");
    if (at == std::string::npos)
        return std::nullopt;
    return TickClock{std::atoll(stat->c_str() + at + 7), ticksPerSecond};
}

VXCrashProcessInfo::StartTime VXCrashProcessInfo::TickClock::startTime(uint64_t ticks) const
{
    StartTime start;
    if (ticksPerSecond > 0) {
        start.seconds = bootSeconds + int64_t(ticks / uint64_t(ticksPerSecond));
        start.microseconds = int64_t(ticks % uint64_t(ticksPerSecond)) * 1000000 / ticksPerSecond;
    }
    return start;
}

std::optional<VXCrashProcessInfo> VXCrashProcessInfo::currentProcessInfo()
{
    return withProcessID(getpid());
}

std::optional<VXCrashProcessInfo> VXCrashProcessInfo::withProcessID(pid_t pid)
{
    const std::string base = "/proc/" + std::to_string(pid);
    const auto stat = readFile(base + "/stat");
    if (!stat)
        return std::nullopt;
    // "pid (comm) state ppid ..."; the name may itself hold parentheses, so
    // it ends at the last one.
    const auto open = stat->find('(');
    const auto close = stat->rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open)
        return std::nullopt;

    VXCrashProcessInfo info;
    info.processID = pid;

    std::string name = stat->substr(open + 1, close - open - 1);
    if (name.size() > kCommandNameBytes - 1)
        name.resize(kCommandNameBytes - 1);
    name.resize(vxcrash_sysctl_valid_utf8_bytes_max(name.c_str(), name.size()));
    if (!name.empty())
        info.processName = name;

    uint64_t parent = 0;
    if (statField(stat->data(), stat->size(), kParentField, &parent))
        info.parentProcessID = pid_t(parent);
    uint64_t ticks = 0;
    const auto clock = TickClock::current();
    if (clock && statField(stat->data(), stat->size(), kStartTimeField, &ticks))
        info.startTime = clock->startTime(ticks);

    if (const auto status = readFile(base + "/status")) {
        const auto at = status->find("\nTracerPid:");
        if (at != std::string::npos)
            info.traced = std::atol(status->c_str() + at + 11) != 0;
    }
    return info;
}
