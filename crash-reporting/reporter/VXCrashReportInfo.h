#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>

// The read-only object tree a decoded crash report is made of. Every object is
// immutable once built and shared by pointer; absent optional values are
// null pointers, std::nullopt or null strings.

class VXCrashReportProcessorInfo {
public:
    VXCrashReportProcessorInfo(int typeEncoding, uint64_t type, uint64_t subtype)
        : typeEncoding_(typeEncoding), type_(type), subtype_(subtype) { }
    int typeEncoding() const { return typeEncoding_; }
    uint64_t type() const { return type_; }
    uint64_t subtype() const { return subtype_; }

private:
    int typeEncoding_;
    uint64_t type_;
    uint64_t subtype_;
};
using VXCrashReportProcessorInfoPtr = std::shared_ptr<const VXCrashReportProcessorInfo>;

class VXCrashReportSystemInfo {
public:
    VXCrashReportSystemInfo(int operatingSystem, QString operatingSystemVersion, QString operatingSystemBuild,
                            int architecture, VXCrashReportProcessorInfoPtr processorInfo,
                            std::optional<QDateTime> timestamp)
        : operatingSystem_(operatingSystem), operatingSystemVersion_(std::move(operatingSystemVersion)),
          operatingSystemBuild_(std::move(operatingSystemBuild)), architecture_(architecture),
          processorInfo_(std::move(processorInfo)), timestamp_(std::move(timestamp)) { }
    VXCrashReportSystemInfo(int operatingSystem, QString operatingSystemVersion, QString operatingSystemBuild,
                            int architecture, std::optional<QDateTime> timestamp)
        : VXCrashReportSystemInfo(operatingSystem, std::move(operatingSystemVersion),
                                  std::move(operatingSystemBuild), architecture, nullptr, std::move(timestamp)) { }
    VXCrashReportSystemInfo(int operatingSystem, QString operatingSystemVersion, int architecture,
                            std::optional<QDateTime> timestamp)
        : VXCrashReportSystemInfo(operatingSystem, std::move(operatingSystemVersion), QString(), architecture,
                                  nullptr, std::move(timestamp)) { }

    int operatingSystem() const { return operatingSystem_; }
    const QString& operatingSystemVersion() const { return operatingSystemVersion_; }
    const QString& operatingSystemBuild() const { return operatingSystemBuild_; }
    int architecture() const { return architecture_; }
    const std::optional<QDateTime>& timestamp() const { return timestamp_; }
    const VXCrashReportProcessorInfoPtr& processorInfo() const { return processorInfo_; }

private:
    int operatingSystem_;
    QString operatingSystemVersion_;
    QString operatingSystemBuild_;
    int architecture_;
    VXCrashReportProcessorInfoPtr processorInfo_;
    std::optional<QDateTime> timestamp_;
};

class VXCrashReportMachineInfo {
public:
    VXCrashReportMachineInfo(QString modelName, VXCrashReportProcessorInfoPtr processorInfo, uint32_t processorCount,
                             uint32_t logicalProcessorCount)
        : modelName_(std::move(modelName)), processorInfo_(std::move(processorInfo)),
          processorCount_(processorCount), logicalProcessorCount_(logicalProcessorCount) { }
    const QString& modelName() const { return modelName_; }
    const VXCrashReportProcessorInfoPtr& processorInfo() const { return processorInfo_; }
    uint32_t processorCount() const { return processorCount_; }
    uint32_t logicalProcessorCount() const { return logicalProcessorCount_; }

private:
    QString modelName_;
    VXCrashReportProcessorInfoPtr processorInfo_;
    uint32_t processorCount_;
    uint32_t logicalProcessorCount_;
};

class VXCrashReportApplicationInfo {
public:
    VXCrashReportApplicationInfo(QString applicationIdentifier, QString applicationVersion,
                                 QString applicationMarketingVersion)
        : applicationIdentifier_(std::move(applicationIdentifier)), applicationVersion_(std::move(applicationVersion)),
          applicationMarketingVersion_(std::move(applicationMarketingVersion)) { }
    const QString& applicationIdentifier() const { return applicationIdentifier_; }
    const QString& applicationVersion() const { return applicationVersion_; }
    const QString& applicationMarketingVersion() const { return applicationMarketingVersion_; }

private:
    QString applicationIdentifier_;
    QString applicationVersion_;
    QString applicationMarketingVersion_;
};

class VXCrashReportProcessInfo {
public:
    VXCrashReportProcessInfo(QString processName, uint32_t processID, QString processPath,
                             std::optional<QDateTime> processStartTime, QString parentProcessName,
                             uint32_t parentProcessID, bool native)
        : processName_(std::move(processName)), processID_(processID), processPath_(std::move(processPath)),
          processStartTime_(std::move(processStartTime)), parentProcessName_(std::move(parentProcessName)),
          parentProcessID_(parentProcessID), native_(native) { }
    const QString& processName() const { return processName_; }
    uint32_t processID() const { return processID_; }
    const QString& processPath() const { return processPath_; }
    const std::optional<QDateTime>& processStartTime() const { return processStartTime_; }
    const QString& parentProcessName() const { return parentProcessName_; }
    uint32_t parentProcessID() const { return parentProcessID_; }
    bool native() const { return native_; }

private:
    QString processName_;
    uint32_t processID_;
    QString processPath_;
    std::optional<QDateTime> processStartTime_;
    QString parentProcessName_;
    uint32_t parentProcessID_;
    bool native_;
};

class VXCrashReportSignalInfo {
public:
    VXCrashReportSignalInfo(QString name, QString code, uint64_t address, QString crashInfoMessage)
        : name_(std::move(name)), code_(std::move(code)), address_(address),
          crashInfoMessage_(std::move(crashInfoMessage)) { }
    const QString& name() const { return name_; }
    const QString& code() const { return code_; }
    uint64_t address() const { return address_; }
    const QString& crashInfoMessage() const { return crashInfoMessage_; }

private:
    QString name_;
    QString code_;
    uint64_t address_;
    QString crashInfoMessage_;
};

class VXCrashReportMachExceptionInfo {
public:
    VXCrashReportMachExceptionInfo(uint64_t type, QList<uint64_t> codes) : type_(type), codes_(std::move(codes)) { }
    uint64_t type() const { return type_; }
    const QList<uint64_t>& codes() const { return codes_; }

private:
    uint64_t type_;
    QList<uint64_t> codes_;
};

class VXCrashReportSymbolInfo {
public:
    VXCrashReportSymbolInfo(QString symbolName, uint64_t startAddress, uint64_t endAddress)
        : symbolName_(std::move(symbolName)), startAddress_(startAddress), endAddress_(endAddress) { }
    const QString& symbolName() const { return symbolName_; }
    uint64_t startAddress() const { return startAddress_; }
    uint64_t endAddress() const { return endAddress_; }

private:
    QString symbolName_;
    uint64_t startAddress_;
    uint64_t endAddress_;
};

class VXCrashReportStackFrameInfo {
public:
    VXCrashReportStackFrameInfo(uint64_t instructionPointer, std::shared_ptr<const VXCrashReportSymbolInfo> symbolInfo)
        : instructionPointer_(instructionPointer), symbolInfo_(std::move(symbolInfo)) { }
    uint64_t instructionPointer() const { return instructionPointer_; }
    const std::shared_ptr<const VXCrashReportSymbolInfo>& symbolInfo() const { return symbolInfo_; }

private:
    uint64_t instructionPointer_;
    std::shared_ptr<const VXCrashReportSymbolInfo> symbolInfo_;
};
using VXCrashReportStackFrames = QList<std::shared_ptr<const VXCrashReportStackFrameInfo>>;

class VXCrashReportRegisterInfo {
public:
    VXCrashReportRegisterInfo(QString registerName, uint64_t registerValue)
        : registerName_(std::move(registerName)), registerValue_(registerValue) { }
    const QString& registerName() const { return registerName_; }
    uint64_t registerValue() const { return registerValue_; }

private:
    QString registerName_;
    uint64_t registerValue_;
};

class VXCrashReportThreadInfo {
public:
    VXCrashReportThreadInfo(int64_t threadNumber, VXCrashReportStackFrames stackFrames, bool crashed,
                            QList<std::shared_ptr<const VXCrashReportRegisterInfo>> registers)
        : threadNumber_(threadNumber), stackFrames_(std::move(stackFrames)), crashed_(crashed),
          registers_(std::move(registers)) { }
    int64_t threadNumber() const { return threadNumber_; }
    const VXCrashReportStackFrames& stackFrames() const { return stackFrames_; }
    bool crashed() const { return crashed_; }
    const QList<std::shared_ptr<const VXCrashReportRegisterInfo>>& registers() const { return registers_; }

private:
    int64_t threadNumber_;
    VXCrashReportStackFrames stackFrames_;
    bool crashed_;
    QList<std::shared_ptr<const VXCrashReportRegisterInfo>> registers_;
};

class VXCrashReportBinaryImageInfo {
public:
    // `uuid` empty or null: the image has no UUID.
    VXCrashReportBinaryImageInfo(VXCrashReportProcessorInfoPtr codeType, uint64_t baseAddress, uint64_t size,
                                 QString name, const QByteArray& uuid)
        : codeType_(std::move(codeType)), imageBaseAddress_(baseAddress), imageSize_(size), imageName_(std::move(name)),
          hasImageUUID_(!uuid.isNull()),
          imageUUID_(uuid.isNull() ? QString() : QString::fromLatin1(uuid.toHex())) { }
    const VXCrashReportProcessorInfoPtr& codeType() const { return codeType_; }
    uint64_t imageBaseAddress() const { return imageBaseAddress_; }
    uint64_t imageSize() const { return imageSize_; }
    const QString& imageName() const { return imageName_; }
    bool hasImageUUID() const { return hasImageUUID_; }
    const QString& imageUUID() const { return imageUUID_; }

private:
    VXCrashReportProcessorInfoPtr codeType_;
    uint64_t imageBaseAddress_;
    uint64_t imageSize_;
    QString imageName_;
    bool hasImageUUID_;
    QString imageUUID_;
};

class VXCrashReportExceptionInfo {
public:
    // No frames: `stackFrames` is absent, not empty.
    VXCrashReportExceptionInfo(QString exceptionName, QString exceptionReason,
                               std::optional<VXCrashReportStackFrames> stackFrames = std::nullopt)
        : exceptionName_(std::move(exceptionName)), exceptionReason_(std::move(exceptionReason)),
          stackFrames_(std::move(stackFrames)) { }
    const QString& exceptionName() const { return exceptionName_; }
    const QString& exceptionReason() const { return exceptionReason_; }
    const std::optional<VXCrashReportStackFrames>& stackFrames() const { return stackFrames_; }

private:
    QString exceptionName_;
    QString exceptionReason_;
    std::optional<VXCrashReportStackFrames> stackFrames_;
};
