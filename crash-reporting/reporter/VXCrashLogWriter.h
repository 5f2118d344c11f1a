#pragma once

#include "crash-reporting/reporter/VXCrashReportLimits.h"
#include "crash-reporting/reporter/VXCrashSignalInfo.h"
#include "crash-reporting/reporter/VXCrashWriterPack.h"
#include "crash-reporting/reporter/VXCrashWriterTarget.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <vector>

// The crash log writer: everything about the process that cannot be gathered
// safely at crash time is captured here beforehand, and vxcrash_log_writer_write
// streams one report from it at crash time without allocating.

// Results of the writer.
enum vxcrash_log_writer_status : int {
    VXCRASH_WRITER_OK = 0,
    // The output refused bytes (a failed write, or the size cap of a live report).
    VXCRASH_WRITER_OUTPUT = 2,
    VXCRASH_WRITER_INVALID_ARGUMENT = 5,
    VXCRASH_WRITER_INTERNAL = 6,
};

// Frames written per thread and per exception at most.
constexpr size_t kVXCrashMaxFrames = kVXCrashReportMaxFrames;
// Bytes of a crash-info message kept at most.
constexpr size_t kVXCrashInfoMessageMax = 1024;
// Bytes of a process name kept at most: the kernel keeps no more of one.
constexpr size_t kVXCrashProcessNameMax = 15;

// An immutable copy of the custom data, published through one atomic pointer.
struct vxcrash_custom_data_block {
    size_t length;
    const uint8_t* bytes;
};

struct vxcrash_log_writer {
    uint32_t symbol_strategy = 0;
    bool user_requested = false;
    // Seconds since 1970 for the report's timestamp; null reads the real-time
    // clock. Tests fix it.
    int64_t (*clock)() = nullptr;
    uint8_t uuid[16] = {};

    struct {
        std::string version;
        std::string build;
    } system;

    struct {
        std::string model;
        uint64_t cpu_type = 0;
        uint64_t cpu_subtype = 0;
        uint32_t processor_count = 0;
        uint32_t logical_processor_count = 0;
    } machine;

    struct {
        std::string identifier;
        std::string version;
        std::string marketing_version;
    } application;

    // Names are the kernel's command names, cut to kVXCrashProcessNameMax
    // bytes; held inline, so a forked child can rewrite them without
    // allocating.
    struct {
        char name[kVXCrashProcessNameMax + 1] = {};
        pid_t pid = 0;
        std::string path;
        int64_t start_time = 0;
        char parent_name[kVXCrashProcessNameMax + 1] = {};
        pid_t parent_pid = 0;
        bool native = true;
    } process;

    struct {
        bool present = false;
        std::string name;
        std::string reason;
        std::vector<uint64_t> addresses;
    } exception;

    std::atomic<vxcrash_custom_data_block*> custom_data{nullptr};
    // Reports being written that may hold a custom data block. A replaced
    // block waits in `retired` while any is, since a crash on another thread
    // may be reading it, and is freed by the next replacement after.
    std::atomic<int> custom_data_readers{0};
    std::mutex retired_mutex;
    std::vector<vxcrash_custom_data_block*> retired;
};

// The facts of this host and process that the writer's init reads. Tests
// replace them through vxcrash_log_writer_init_with_facts.
struct vxcrash_writer_facts {
    bool has_process = false;
    pid_t pid = 0;
    std::string process_name;
    std::string process_path;
    int64_t start_time = 0;
    pid_t parent_pid = 0;
    std::string parent_name;
    std::string model;
    uint64_t cpu_type = 0;
    uint64_t cpu_subtype = 0;
    uint32_t processor_count = 0;
    uint32_t logical_processor_count = 0;
    std::string os_version;
    std::string os_build;
    uint8_t uuid[16] = {};

    // Read from /proc, uname and sysconf.
    static vxcrash_writer_facts current();
};

// Ordinary context. Fails with VXCRASH_WRITER_INVALID_ARGUMENT when this
// process's facts cannot be read. An empty marketing version means none.
int vxcrash_log_writer_init(vxcrash_log_writer* writer, const std::string& app_identifier,
                            const std::string& app_version, const std::string& app_marketing_version,
                            uint32_t symbol_strategy, bool user_requested);
int vxcrash_log_writer_init_with_facts(vxcrash_log_writer* writer, const vxcrash_writer_facts& facts,
                                       const std::string& app_identifier, const std::string& app_version,
                                       const std::string& app_marketing_version, uint32_t symbol_strategy,
                                       bool user_requested);

// Makes the writer's reports those of a child this process just forked: the
// child's pid and start time, this process as its parent, and a report id
// of its own. Async-signal-safe: it runs in the child right after fork.
void vxcrash_log_writer_forked(vxcrash_log_writer* writer, pid_t child, int64_t child_start_time);

// Fills `uuid` with a new random (version 4) report id. False when the
// kernel's random source fails. Async-signal-safe.
bool vxcrash_new_report_id(uint8_t uuid[16]);

// Stores an exception for the report. Calling it twice on one writer is a
// programming error and aborts. Ordinary context, or the uncaught-exception
// handler right before it aborts.
void vxcrash_log_writer_set_exception(vxcrash_log_writer* writer, const std::string& name,
                                      const std::string& reason, const std::vector<uint64_t>& return_addresses);

// Publishes a copy of the bytes for the report's custom data; `data` null
// means none. An empty non-null block is written as empty custom data. Data
// longer than kVXCrashReportMaxCustomDataBytes is refused: the previous data
// stays and the call answers false.
bool vxcrash_log_writer_set_custom_data(vxcrash_log_writer* writer, const void* data, size_t length);

// Writes one whole report of the process. `crashed_thread` is written as the
// crashed one; `captured` is the calling thread's captured state (opaque to
// the writer, handed to the target), or null. Async-signal-safe.
int vxcrash_log_writer_write(vxcrash_log_writer* writer, VXCrashWriterTarget& target, pid_t crashed_thread,
                             VXCrashWriterOutput* output, const vxcrash_log_signal_info* signal_info,
                             const void* captured);

int vxcrash_log_writer_close(vxcrash_log_writer* writer);
void vxcrash_log_writer_free(vxcrash_log_writer* writer);
