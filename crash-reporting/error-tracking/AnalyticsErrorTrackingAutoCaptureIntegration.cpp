#include "AnalyticsErrorTrackingAutoCaptureIntegration.h"

#include "analytics/AnalyticsLog.h"
#include "analytics/flags/AnalyticsRemoteConfig.h"
#include "analytics/sdk/AnalyticsSDK.h"
#include "crash-reporting/error-tracking/AnalyticsCrashReportProcessor.h"
#include "crash-reporting/error-tracking/AnalyticsDebugUtils.h"
#include "crash-reporting/reporter/VXCrashReport.h"
#include "crash-reporting/reporter/VXCrashReporter.h"
#include "crash-reporting/reporter/VXCrashReporterErrors.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>

namespace analytics {

namespace {

QMutex& integrationInstalledLock()
{
    static QMutex lock;
    return lock;
}
bool integrationInstalled = false;

// Signals: this system has no Mach exceptions. Nothing is symbolicated at
// crash time; the frames carry their addresses and images.
VXCrashReporterConfig reporterConfiguration()
{
    return VXCrashReporterConfig(VXCrashReporterConfig::SignalHandlerTypeBSD,
                                 VXCrashReporterConfig::SymbolicationStrategyNone, true);
}

std::unique_ptr<VXCrashReporter> makeReporter()
{
    try {
        return std::make_unique<VXCrashReporter>(reporterConfiguration());
    } catch (const std::exception&) {
        return nullptr;
    }
}

} // namespace

AnalyticsErrorTrackingAutoCaptureIntegration::AnalyticsErrorTrackingAutoCaptureIntegration() = default;
AnalyticsErrorTrackingAutoCaptureIntegration::~AnalyticsErrorTrackingAutoCaptureIntegration() = default;

AnalyticsIntegrationInstallResult
AnalyticsErrorTrackingAutoCaptureIntegration::install(const std::shared_ptr<AnalyticsSDK>& sdk)
{
    if (const std::shared_ptr<AnalyticsRemoteConfig> remote = sdk->remoteConfig()) {
        if (!remote->autoCaptureExceptions()) {
            // Switched off for this project: a report the previous run left
            // must not wait to be sent once the switch comes back on.
            if (const std::unique_ptr<VXCrashReporter> reporter = makeReporter(); reporter && reporter->hasPendingCrashReport()) {
                reporter->purgePendingCrashReport();
                analyticsLog(QStringLiteral("[Analytics] Pending crash report discarded: error tracking is disabled in remote config"));
            }
            return AnalyticsIntegrationInstallResult::skip(AnalyticsIntegrationInstallSkipReason::disabledInRemoteConfig);
        }
    }
    {
        QMutexLocker lock(&integrationInstalledLock());
        if (integrationInstalled)
            return AnalyticsIntegrationInstallResult::skip(AnalyticsIntegrationInstallSkipReason::alreadyInstalled);
        integrationInstalled = true;
    }
    bound_ = true;

    std::unique_ptr<VXCrashReporter> reporter = makeReporter();
    if (!reporter) {
        analyticsLog(QStringLiteral("[Analytics] Failed to create VXCrashReporter instance"));
        return AnalyticsIntegrationInstallResult::installed();
    }
    crashReporter_ = std::move(reporter);
    analytics_ = sdk;

    if (crashReporter_->hasPendingCrashReport()) {
        analyticsLog(QStringLiteral("[Analytics] Found pending crash report, processing..."));
        processPendingCrashReport();
    }
    enableCrashReporter(*crashReporter_);
    return AnalyticsIntegrationInstallResult::installed();
}

void AnalyticsErrorTrackingAutoCaptureIntegration::processPendingCrashReport()
{
    const std::shared_ptr<AnalyticsSDK> sdk = analytics_.lock();
    if (!crashReporter_ || !sdk)
        return;
    VXCrashReporterError error;
    const std::optional<QByteArray> data = crashReporter_->loadPendingCrashReportData(&error);
    // Read at most once, whatever follows.
    crashReporter_->purgePendingCrashReport();
    if (!data) {
        analyticsLog(QStringLiteral("Failed to load crash report: ") + error.localizedDescription);
        return;
    }
    const std::shared_ptr<const VXCrashReport> report = VXCrashReport::fromData(*data, &error);
    if (!report) {
        analyticsLog(QStringLiteral("Failed to process crash report: ") + error.localizedDescription);
        return;
    }

    QVariantMap context;
    if (!report->customData().isNull()) {
        const QJsonDocument document = QJsonDocument::fromJson(report->customData());
        if (document.isObject())
            context = document.object().toVariantMap();
    }
    std::optional<QString> distinctId;
    const QVariant storedId = context.value(QStringLiteral("distinct_id"));
    if (storedId.typeId() == QMetaType::QString)
        distinctId = storedId.toString();
    const QVariant storedProperties = context.value(QStringLiteral("event_properties"));
    QVariantMap properties =
        storedProperties.typeId() == QMetaType::QVariantMap ? storedProperties.toMap() : QVariantMap();

    const std::shared_ptr<AnalyticsConfig> config = sdk->config();
    const QVariantMap crash = AnalyticsCrashReportProcessor::processReport(
        *report, config ? config->errorTrackingConfig() : AnalyticsErrorTrackingConfig());
    for (auto it = crash.cbegin(); it != crash.cend(); ++it)
        properties.insert(it.key(), it.value());

    std::optional<QDateTime> timestamp;
    if (report->systemInfo())
        timestamp = report->systemInfo()->timestamp();
    sdk->captureInternal(QStringLiteral("$exception"), distinctId, properties, std::nullopt, std::nullopt,
                         std::nullopt, timestamp, true);
    analyticsLog(QStringLiteral("[Analytics] Crash report processed and captured"));
}

void AnalyticsErrorTrackingAutoCaptureIntegration::enableCrashReporter(VXCrashReporter& reporter)
{
    if (AnalyticsDebugUtils::isDebuggerAttached()) {
        analyticsLog(QStringLiteral("[Analytics] Crash handler is disabled because a debugger is attached. Crashes "
                                    "will be caught by the debugger instead."));
        return;
    }
    VXCrashReporterError error;
    if (reporter.enableCrashReporter(&error))
        analyticsLog(QStringLiteral("[Analytics] VXCrashReporter enabled successfully"));
    else
        analyticsLog(QStringLiteral("Failed to enable VXCrashReporter: ") + error.localizedDescription);
}

void AnalyticsErrorTrackingAutoCaptureIntegration::contextDidChange(const QVariantMap& context)
{
    if (!crashReporter_)
        return;
    const QJsonDocument document = QJsonDocument::fromVariant(context);
    if (!document.isObject()) {
        analyticsLog(QStringLiteral("Failed to serialize crash context: not a JSON object"));
        return;
    }
    crashReporter_->setCustomData(document.toJson(QJsonDocument::Compact));
}

void AnalyticsErrorTrackingAutoCaptureIntegration::uninstall(const std::shared_ptr<AnalyticsSDK>& sdk)
{
    const std::shared_ptr<AnalyticsSDK> holder = analytics_.lock();
    if (holder && holder != sdk)
        return;
    // Handlers the reporter installed stay for the life of the process.
    crashReporter_.reset();
    analytics_.reset();
    if (bound_) {
        bound_ = false;
        QMutexLocker lock(&integrationInstalledLock());
        integrationInstalled = false;
    }
}

} // namespace analytics
