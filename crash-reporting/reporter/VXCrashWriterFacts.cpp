#include "crash-reporting/reporter/VXCrashHostInfo.h"
#include "crash-reporting/reporter/VXCrashLogWriter.h"
#include "crash-reporting/reporter/VXCrashProcessInfo.h"
#include "crash-reporting/reporter/VXCrashSysctl.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <sys/utsname.h>
#include <unistd.h>
#include <utility>

namespace {

// Processor types in the report's Mach numbering.
constexpr uint64_t kCpuArchAbi64 = 0x01000000;
constexpr uint64_t kCpuTypeX86 = 7;
constexpr uint64_t kCpuTypeArm = 12;
constexpr uint64_t kCpuSubtypeX86All = 3;
constexpr uint64_t kCpuSubtypeArmAll = 0;

std::pair<uint64_t, uint64_t> processorType(const char* machine)
{
    if (std::strcmp(machine, "x86_64") == 0)
        return {kCpuTypeX86 | kCpuArchAbi64, kCpuSubtypeX86All};
    if (std::strcmp(machine, "aarch64") == 0 || std::strcmp(machine, "arm64") == 0)
        return {kCpuTypeArm | kCpuArchAbi64, kCpuSubtypeArmAll};
    if (std::strncmp(machine, "arm", 3) == 0)
        return {kCpuTypeArm, kCpuSubtypeArmAll};
    if (machine[0] == 'i' && std::strcmp(machine + 2, "86") == 0)
        return {kCpuTypeX86, kCpuSubtypeX86All};
    return {0, 0};
}

// Distinct (package, core) pairs of /proc/cpuinfo; 0 when it lists none.
uint32_t physicalCores()
{
    std::ifstream in("/proc/cpuinfo");
    std::set<std::pair<long, long>> cores;
    long package = 0;
    std::string line;
    while (std::getline(in, line)) {
        const auto colon = line.find(':');
        if (colon == std::string::npos)
            continue;
        const std::string key = line.substr(0, line.find_last_not_of(" \t", colon - 1) + 1);
        const long value = std::atol(line.c_str() + colon + 1);
        if (key == "physical id")
            package = value;
        else if (key == "core id")
            cores.insert({package, value});
    }
    return uint32_t(cores.size());
}

std::string firstLine(const char* path)
{
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == ' ' || line.back() == '\r'))
        line.pop_back();
    return line;
}

} // namespace

vxcrash_writer_facts vxcrash_writer_facts::current()
{
    vxcrash_writer_facts facts;

    vxcrash_new_report_id(facts.uuid);

    if (const auto process = VXCrashProcessInfo::currentProcessInfo()) {
        facts.has_process = true;
        facts.pid = process->processID;
        facts.process_name = process->processName.value_or("");
        facts.start_time = process->startTime.seconds;
        facts.parent_pid = process->parentProcessID;
        if (const auto parent = VXCrashProcessInfo::withProcessID(process->parentProcessID))
            facts.parent_name = parent->processName.value_or("");
    }

    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length > 0)
        facts.process_path.assign(path, size_t(length));

    facts.model = firstLine("/sys/devices/virtual/dmi/id/product_name");

    struct utsname names;
    if (uname(&names) == 0) {
        const auto [type, subtype] = processorType(names.machine);
        facts.cpu_type = type;
        facts.cpu_subtype = subtype;
        facts.os_build = names.version;
        const auto version = VXCrashHostInfo::fromRelease(names.release).darwinVersion;
        facts.os_version = std::to_string(version.major) + "." + std::to_string(version.minor);
        if (version.revision > 0)
            facts.os_version += "." + std::to_string(version.revision);
    }

    const long logical = sysconf(_SC_NPROCESSORS_CONF);
    facts.logical_processor_count = logical > 0 ? uint32_t(logical) : 0;
    const uint32_t physical = physicalCores();
    facts.processor_count = physical ? physical : facts.logical_processor_count;
    return facts;
}
