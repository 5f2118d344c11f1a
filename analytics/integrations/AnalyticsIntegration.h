#pragma once

#include <QString>
#include <QVariantMap>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace analytics {

class AnalyticsConfig;
class AnalyticsSDK;

enum class AnalyticsIntegrationInstallSkipReason { alreadyInstalled, disabledInRemoteConfig, notAvailableOnPlatform };
QString description(AnalyticsIntegrationInstallSkipReason reason);

// installed, or skipped for a reason.
struct AnalyticsIntegrationInstallResult {
    std::optional<AnalyticsIntegrationInstallSkipReason> skipped;

    static AnalyticsIntegrationInstallResult installed() { return {}; }
    static AnalyticsIntegrationInstallResult skip(AnalyticsIntegrationInstallSkipReason reason) { return {reason}; }
    bool isInstalled() const { return !skipped; }
};

// An optional piece an SDK installs at set-up and that feeds it events of its
// own. Each kind allows one installed SDK per process.
class AnalyticsIntegration {
public:
    virtual ~AnalyticsIntegration() = default;
    virtual QString typeName() const = 0;
    virtual bool requiresSwizzling() const = 0;
    virtual AnalyticsIntegrationInstallResult install(const std::shared_ptr<AnalyticsSDK>& sdk) = 0;
    virtual void uninstall(const std::shared_ptr<AnalyticsSDK>& sdk) = 0;
    // The identity and event context, whenever it changes.
    virtual void contextDidChange(const QVariantMap& context) = 0;
};

// Makes the crash auto-capture integration. It lives in the crash-reporting
// library, which builds on this one, so that library registers its maker here;
// until it does, autoCapture adds nothing. Safe to call from any thread; an
// empty function takes the registration back.
using AnalyticsIntegrationFactory = std::function<std::shared_ptr<AnalyticsIntegration>()>;
void setErrorTrackingIntegrationFactory(AnalyticsIntegrationFactory factory);

// The integrations a configuration asks for, newly made on every call, in the
// order crash auto-capture (when on and registered), screen views, lifecycle.
std::vector<std::shared_ptr<AnalyticsIntegration>> getIntegrations(const AnalyticsConfig& config);

} // namespace analytics
