#include "crash-reporting/reporter/VXCrashHostInfo.h"

#include "crash-reporting/reporter/VXCrashReporterLog.h"
#include "crash-reporting/reporter/VXCrashSysctl.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

std::optional<VXCrashHostInfo> VXCrashHostInfo::currentHostInfo()
{
    char* release = vxcrash_sysctl_string("kernel.osrelease");
    if (!release) {
        const int error = errno;
        vxcrash_log("[VXCrashReporter] Failed to fetch kern.osrelease value %d: %s", error, std::strerror(error));
        return std::nullopt;
    }
    VXCrashHostInfo info = fromRelease(release);
    std::free(release);
    return info;
}

VXCrashHostInfo VXCrashHostInfo::fromRelease(const char* release)
{
    VXCrashHostInfo info;
    if (std::sscanf(release, "%u.%u.%u", &info.darwinVersion.major, &info.darwinVersion.minor,
                    &info.darwinVersion.revision)
        != 3) {
        vxcrash_log("[VXCrashReporter] Unexpected kern.osrelease string format: %s", release);
    }
    return info;
}
