#pragma once

#include <cstddef>
#include <cstdint>

// How much the crash-time writer puts in one report at most. The writer keeps
// to these, so the decoder can refuse anything beyond them before it spends
// time or memory on a file it did not write.

// Threads listed (the crashed one may come on top), frames per thread and per
// exception, and registers of the crashed thread.
constexpr size_t kVXCrashReportMaxThreads = 512;
constexpr size_t kVXCrashReportMaxFrames = 512;
constexpr size_t kVXCrashReportMaxRegisters = 64;
// Loaded images listed, and bytes of an image's path.
constexpr size_t kVXCrashReportMaxImages = 2048;
constexpr size_t kVXCrashReportMaxImageNameBytes = 4096;
// Bytes of the longest symbol name, of an exception's name and reason, and of
// the custom data.
constexpr size_t kVXCrashReportMaxSymbolNameBytes = 256;
constexpr size_t kVXCrashReportMaxExceptionTextBytes = 4096;
constexpr size_t kVXCrashReportMaxCustomDataBytes = 1024 * 1024;

// The writer writes no field the format does not know, though a later
// version of it might add a few. Each unknown field costs the decoder an
// allocation and a copy, so a report holding more of them than this, or more
// bytes in them, is refused.
constexpr size_t kVXCrashReportMaxUnknownFields = 64;
constexpr size_t kVXCrashReportMaxUnknownBytes = 64 * 1024;

namespace vxcrash_limits_detail {
// Generous sizes of one encoded entry: each field's key, a varint at its
// longest (10 bytes) and the length prefix of every nested message.
constexpr size_t kVarint = 11;
constexpr size_t kNested = 6;
constexpr size_t kFrame = kNested + kVarint + kNested + (kNested + kVXCrashReportMaxSymbolNameBytes) + 2 * kVarint;
constexpr size_t kRegister = kNested + (kNested + 32) + kVarint;
constexpr size_t kThread = kNested + 2 * kVarint + kVXCrashReportMaxRegisters * kRegister
                           + kVXCrashReportMaxFrames * kFrame;
constexpr size_t kImage = kNested + 2 * kVarint + (kNested + kVXCrashReportMaxImageNameBytes) + (kNested + 64)
                          + (kNested + 3 * kVarint);
// Every section with fixed fields (system, machine, application, process,
// signal with its crash-info message) fits in this, strings included.
constexpr size_t kFixedSections = 64 * 1024;
} // namespace vxcrash_limits_detail

// The largest file the writer can produce.
constexpr size_t kVXCrashReportMaxBytes =
    vxcrash_limits_detail::kFixedSections
    + (kVXCrashReportMaxThreads + 1) * vxcrash_limits_detail::kThread
    + kVXCrashReportMaxImages * vxcrash_limits_detail::kImage
    + (vxcrash_limits_detail::kNested + 2 * (vxcrash_limits_detail::kNested + kVXCrashReportMaxExceptionTextBytes)
       + kVXCrashReportMaxFrames * vxcrash_limits_detail::kFrame)
    + vxcrash_limits_detail::kNested + kVXCrashReportMaxCustomDataBytes;
