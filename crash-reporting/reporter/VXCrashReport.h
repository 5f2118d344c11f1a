#pragma once

#include "crash-reporting/reporter/VXCrashReportInfo.h"
#include "crash-reporting/reporter/VXCrashReporterError.h"

#include <QByteArray>
#include <QUuid>

#include <memory>
#include <optional>

// File name of the report a crash leaves behind for the next launch.
inline constexpr const char* VXCrashReportLiveFileName = "live_report.vxcrash";
// Every report starts with these 7 bytes and a format version byte.
inline constexpr char VXCrashReportFileMagic[] = "vxcrash";
inline constexpr int VXCrashReportFileMagicLength = 7;
inline constexpr int VXCrashReportFileVersion = 1;

// One crash report decoded from its file bytes into an object tree. Decoding
// runs in ordinary context and treats the bytes as hostile: any malformed input
// gives an error, never a partial report.
class VXCrashReport {
public:
    // The decoded report, or null with `error` (when given) saying why.
    static std::shared_ptr<const VXCrashReport> fromData(const QByteArray& data, VXCrashReporterError* error = nullptr);

    const std::shared_ptr<const VXCrashReportSystemInfo>& systemInfo() const { return systemInfo_; }
    bool hasMachineInfo() const { return machineInfo_ != nullptr; }
    const std::shared_ptr<const VXCrashReportMachineInfo>& machineInfo() const { return machineInfo_; }
    const std::shared_ptr<const VXCrashReportApplicationInfo>& applicationInfo() const { return applicationInfo_; }
    bool hasProcessInfo() const { return processInfo_ != nullptr; }
    const std::shared_ptr<const VXCrashReportProcessInfo>& processInfo() const { return processInfo_; }
    const std::shared_ptr<const VXCrashReportSignalInfo>& signalInfo() const { return signalInfo_; }
    const std::shared_ptr<const VXCrashReportMachExceptionInfo>& machExceptionInfo() const { return machExceptionInfo_; }
    const QList<std::shared_ptr<const VXCrashReportThreadInfo>>& threads() const { return threads_; }
    const QList<std::shared_ptr<const VXCrashReportBinaryImageInfo>>& images() const { return images_; }
    bool hasExceptionInfo() const { return exceptionInfo_ != nullptr; }
    const std::shared_ptr<const VXCrashReportExceptionInfo>& exceptionInfo() const { return exceptionInfo_; }
    // Null when the report carries none.
    const QByteArray& customData() const { return customData_; }
    const std::optional<QUuid>& uuidRef() const { return uuidRef_; }

    // The first image, in stored order, whose range holds `address`.
    std::shared_ptr<const VXCrashReportBinaryImageInfo> imageForAddress(uint64_t address) const;

private:
    VXCrashReport() = default;
    friend class VXCrashReportDecoder;

    std::shared_ptr<const VXCrashReportSystemInfo> systemInfo_;
    std::shared_ptr<const VXCrashReportMachineInfo> machineInfo_;
    std::shared_ptr<const VXCrashReportApplicationInfo> applicationInfo_;
    std::shared_ptr<const VXCrashReportProcessInfo> processInfo_;
    std::shared_ptr<const VXCrashReportSignalInfo> signalInfo_;
    std::shared_ptr<const VXCrashReportMachExceptionInfo> machExceptionInfo_;
    QList<std::shared_ptr<const VXCrashReportThreadInfo>> threads_;
    QList<std::shared_ptr<const VXCrashReportBinaryImageInfo>> images_;
    std::shared_ptr<const VXCrashReportExceptionInfo> exceptionInfo_;
    QByteArray customData_;
    std::optional<QUuid> uuidRef_;
};
