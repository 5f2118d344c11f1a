#pragma once

#include "analytics/integrations/AnalyticsIntegration.h"

#include <QVariantMap>

#include <memory>

class VXCrashReporter;

namespace analytics {

// Joins the crash reporter to an SDK: at install it turns the crash report of
// the previous run into one "$exception" event (with the identity and
// properties stored at the time of the crash, and the crash's time), then arms
// the reporter for this run; on every context change it stores the context in
// the reporter so the next launch can attribute a crash. One SDK per process
// holds it.
class AnalyticsErrorTrackingAutoCaptureIntegration : public AnalyticsIntegration {
public:
    AnalyticsErrorTrackingAutoCaptureIntegration();
    ~AnalyticsErrorTrackingAutoCaptureIntegration() override;

    QString typeName() const override { return QStringLiteral("AnalyticsErrorTrackingAutoCaptureIntegration"); }
    bool requiresSwizzling() const override { return false; }
    AnalyticsIntegrationInstallResult install(const std::shared_ptr<AnalyticsSDK>& sdk) override;
    void uninstall(const std::shared_ptr<AnalyticsSDK>& sdk) override;
    void contextDidChange(const QVariantMap& context) override;

    // For tests: the reporter it built, null when unbound.
    VXCrashReporter* crashReporter() const { return crashReporter_.get(); }

private:
    void processPendingCrashReport();
    void enableCrashReporter(VXCrashReporter& reporter);

    std::weak_ptr<AnalyticsSDK> analytics_;
    std::unique_ptr<VXCrashReporter> crashReporter_;
    bool bound_ = false;
};

} // namespace analytics
