#include "crash-reporting/reporter/VXCrashProcessInfo.h"

#include "crash-reporting/reporter/VXCrashSysctl.h"

#include <cstdio>
#include <cstring>
#include <fstream>
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

std::optional<long long> bootTimeSeconds()
{
    const auto stat = readFile("/proc/stat");
    if (!stat)
        return std::nullopt;
    const auto at = stat->find("\nbtime ");
    if (at == std::string::npos)
        return std::nullopt;
    return std::atoll(stat->c_str() + at + 7);
}

} // namespace

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

    std::istringstream fields(stat->substr(close + 2));
    std::string field;
    // Fields after the name, counted from 3 (state).
    unsigned long long startTicks = 0;
    for (int number = 3; fields >> field; ++number) {
        if (number == 4)
            info.parentProcessID = pid_t(std::atol(field.c_str()));
        if (number == 22) {
            startTicks = std::strtoull(field.c_str(), nullptr, 10);
            break;
        }
    }
    const long ticksPerSecond = sysconf(_SC_CLK_TCK);
    if (const auto boot = bootTimeSeconds(); boot && ticksPerSecond > 0) {
        info.startTime.seconds = *boot + int64_t(startTicks / ticksPerSecond);
        info.startTime.microseconds = int64_t(startTicks % ticksPerSecond) * 1000000 / ticksPerSecond;
    }

    if (const auto status = readFile(base + "/status")) {
        const auto at = status->find("\nTracerPid:");
        if (at != std::string::npos)
            info.traced = std::atol(status->c_str() + at + 11) != 0;
    }
    return info;
}
