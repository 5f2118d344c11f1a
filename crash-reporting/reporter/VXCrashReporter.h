#pragma once

#include "crash-reporting/reporter/VXCrashReporterConfig.h"
#include "crash-reporting/reporter/VXCrashReporterErrors.h"

#include <QByteArray>
#include <QString>

#include <csignal>
#include <cstdint>
#include <optional>
#include <sys/types.h>
#include <ucontext.h>
#include <vector>

// What the crash-time code calls after a report was written: the signal, the
// crashed thread's machine context and the caller's context pointer.
struct VXCrashReporterCallbacks {
    uint16_t version = 0;
    void* context = nullptr;
    void (*crashCallback)(siginfo_t* info, ucontext_t* uap, void* context) = nullptr;
};

// An exception to record in a report: its type name, its message and the
// return addresses of the stack it was thrown from.
struct VXCrashReporterExceptionInfo {
    QString name;
    QString reason;
    std::vector<uint64_t> callStackReturnAddresses;
};

// The crash reporter: finds its report folder, installs the crash-time
// capture once per process, hands over the previous run's report and writes
// reports of running threads on request.
class VXCrashReporter {
public:
    // The name of the pending report in the report folder.
    static constexpr const char* kLiveReportFileName = "live_report.vxcrash";
    static constexpr const char* kQueuedReportsFolderName = "queued_reports";
    // The reporter's own folder under the base: its identifier and ".crashreporter.data".
    static constexpr const char* kDataFolderName = "app.vellox.crashreporter.data";

    // Made once, for the application's information file and the default configuration.
    static VXCrashReporter& sharedReporter();

    VXCrashReporter();
    explicit VXCrashReporter(const VXCrashReporterConfig& configuration);
    // Throws VXCrashReporterException when neither the application's
    // identifier nor the process name is known.
    VXCrashReporter(const QString& applicationIdentifier, const QString& applicationVersion,
                    const QString& applicationMarketingVersion, const VXCrashReporterConfig& configuration);
    ~VXCrashReporter();
    VXCrashReporter(const VXCrashReporter&) = delete;
    VXCrashReporter& operator=(const VXCrashReporter&) = delete;

    const VXCrashReporterConfig& configuration() const { return configuration_; }
    bool isEnabled() const { return enabled_; }

    bool hasPendingCrashReport() const;
    std::optional<QByteArray> loadPendingCrashReportData(VXCrashReporterError* error = nullptr) const;
    bool purgePendingCrashReport(VXCrashReporterError* error = nullptr);

    // Installs the crash capture. Only one reporter per process gets one try.
    bool enableCrashReporter(VXCrashReporterError* error = nullptr);

    // A report of the calling thread, or of another thread of the process.
    std::optional<QByteArray> generateLiveReport(VXCrashReporterError* error = nullptr);
    std::optional<QByteArray> generateLiveReportWithException(const VXCrashReporterExceptionInfo& exception,
                                                              VXCrashReporterError* error = nullptr);
    std::optional<QByteArray> generateLiveReportWithThread(pid_t thread, VXCrashReporterError* error = nullptr);
    std::optional<QByteArray> generateLiveReportWithThread(pid_t thread,
                                                           const VXCrashReporterExceptionInfo* exception,
                                                           VXCrashReporterError* error = nullptr);

    // Throws VXCrashReporterException once the reporter is enabled; a version
    // other than 0 aborts.
    void setCrashCallbacks(const VXCrashReporterCallbacks& callbacks);

    // A null array means none.
    const QByteArray& customData() const { return customData_; }
    void setCustomData(const QByteArray& data);

    QString crashReportDirectory() const { return crashReportDirectory_; }
    QString queuedCrashReportDirectory() const;
    QString crashReportPath() const;

private:
    struct BundleValues {
        QString identifier;
        QString version;
        QString marketingVersion;
        static BundleValues fromApplication();
    };
    VXCrashReporter(const BundleValues& values, const VXCrashReporterConfig& configuration);

    std::optional<QByteArray> liveReport(pid_t thread, const VXCrashReporterExceptionInfo* exception,
                                         uint64_t callerAddress, VXCrashReporterError* error);

    VXCrashReporterConfig configuration_;
    bool enabled_ = false;
    QString applicationIdentifier_;
    QString applicationVersion_;
    QString applicationMarketingVersion_;
    QString crashReportDirectory_;
    QByteArray customData_;
};
