#include "AnalyticsAppLifeCycleIntegration.h"

#include "analytics/AnalyticsBundle.h"
#include "analytics/ApplicationLifecyclePublisher.h"
#include "analytics/AnalyticsLog.h"
#include "analytics/AnalyticsStorage.h"
#include "analytics/sdk/AnalyticsSDK.h"
#include "platform/Defaults.h"
#include "platform/Platform.h"

#include <QMutex>

namespace analytics {

namespace {

QMutex installedLock;
bool installed = false;
std::atomic<bool> didCaptureAppInstallOrUpdate{false};

std::optional<QString> infoText(const char* key)
{
    const QVariant value = bundle::infoValue(QString::fromLatin1(key));
    if (value.metaType() != QMetaType::fromType<QString>())
        return std::nullopt;
    return value.toString();
}

std::optional<QString> defaultsText(const char* key)
{
    const auto& defaults = platform::Platform::current().defaults;
    if (!defaults)
        return std::nullopt;
    const QVariant value = defaults->value(QString::fromLatin1(key));
    if (value.metaType() != QMetaType::fromType<QString>())
        return std::nullopt;
    return value.toString();
}

void storeDefaultsText(const char* key, const QString& value)
{
    if (const auto& defaults = platform::Platform::current().defaults)
        defaults->setValue(QString::fromLatin1(key), value);
}

} // namespace

void AnalyticsAppLifeCycleIntegration::resetForTesting()
{
    didCaptureAppInstallOrUpdate = false;
}

AnalyticsIntegrationInstallResult AnalyticsAppLifeCycleIntegration::install(const std::shared_ptr<AnalyticsSDK>& sdk)
{
    {
        QMutexLocker lock(&installedLock);
        if (installed)
            return AnalyticsIntegrationInstallResult::skip(AnalyticsIntegrationInstallSkipReason::alreadyInstalled);
        installed = true;
    }
    analytics_ = sdk;
    std::weak_ptr<AnalyticsAppLifeCycleIntegration> weak = weak_from_this();
    auto& publisher = DI::main().appLifecyclePublisher();
    didFinishLaunchingToken_ = publisher.onDidFinishLaunching().subscribe([weak] {
        if (auto self = weak.lock())
            self->captureInstallOrUpdate();
    });
    didBecomeActiveToken_ = publisher.onDidBecomeActive().subscribe([weak] {
        if (auto self = weak.lock())
            self->captureOpened();
    });
    didEnterBackgroundToken_ = publisher.onDidEnterBackground().subscribe([weak] {
        if (auto self = weak.lock())
            self->captureBackgrounded();
    });
    captureInstallOrUpdate();
    return AnalyticsIntegrationInstallResult::installed();
}

void AnalyticsAppLifeCycleIntegration::uninstall(const std::shared_ptr<AnalyticsSDK>& sdk)
{
    if (auto current = analytics_.lock(); current && current != sdk)
        return;
    didBecomeActiveToken_ = {};
    didEnterBackgroundToken_ = {};
    didFinishLaunchingToken_ = {};
    analytics_.reset();
    QMutexLocker lock(&installedLock);
    installed = false;
}

void AnalyticsAppLifeCycleIntegration::captureInstallOrUpdate()
{
    const auto sdk = analytics_.lock();
    if (!sdk)
        return;
    if (didCaptureAppInstallOrUpdate.exchange(true))
        return;
    if (!sdk->config()->captureApplicationLifecycleEvents()) {
        analyticsLog(QStringLiteral("[Analytics] Skipping Application Installed/Application Updated event - "
                                    "captureApplicationLifecycleEvents is disabled in configuration"));
        return;
    }
    const std::optional<QString> version = infoText("CFBundleShortVersionString");
    const std::optional<QString> build = infoText("CFBundleVersion");
    const std::optional<QString> previousVersion = defaultsText(kVersionKey);
    const std::optional<QString> previousBuild = defaultsText(kBuildKey);

    QString event;
    QVariantMap properties;
    if (!previousBuild) {
        event = QStringLiteral("Application Installed");
    } else if (build && *previousBuild == *build) {
        return;
    } else {
        event = QStringLiteral("Application Updated");
        if (previousVersion)
            properties.insert(QStringLiteral("previous_version"), *previousVersion);
        properties.insert(QStringLiteral("previous_build"), parseBundleVersion(*previousBuild));
    }
    if (version) {
        properties.insert(QStringLiteral("version"), *version);
        storeDefaultsText(kVersionKey, *version);
    }
    if (build) {
        properties.insert(QStringLiteral("build"), parseBundleVersion(*build));
        storeDefaultsText(kBuildKey, *build);
    }
    sdk->captureInternal(event, std::nullopt, properties, std::nullopt, std::nullopt, std::nullopt, std::nullopt,
                         false);
}

void AnalyticsAppLifeCycleIntegration::captureOpened()
{
    const auto sdk = analytics_.lock();
    if (!sdk)
        return;
    if (!isAppBackgrounded_) {
        analyticsLog(QStringLiteral("[Analytics] Skipping Application Opened event - app already in foreground"));
        return;
    }
    isAppBackgrounded_ = false;
    if (!sdk->config()->captureApplicationLifecycleEvents()) {
        analyticsLog(QStringLiteral("[Analytics] Skipping Application Opened event - captureApplicationLifecycleEvents "
                                    "is disabled in configuration"));
        return;
    }
    QVariantMap properties{{QStringLiteral("from_background"), !isFreshAppLaunch_}};
    if (isFreshAppLaunch_) {
        if (const auto version = infoText("CFBundleShortVersionString"))
            properties.insert(QStringLiteral("version"), *version);
        if (const auto build = infoText("CFBundleVersion"))
            properties.insert(QStringLiteral("build"), parseBundleVersion(*build));
        isFreshAppLaunch_ = false;
    }
    sdk->captureInternal(QStringLiteral("Application Opened"), std::nullopt, properties, std::nullopt, std::nullopt,
                         std::nullopt, std::nullopt, false);
}

void AnalyticsAppLifeCycleIntegration::captureBackgrounded()
{
    const auto sdk = analytics_.lock();
    if (!sdk || isAppBackgrounded_)
        return;
    isAppBackgrounded_ = true;
    if (!sdk->config()->captureApplicationLifecycleEvents()) {
        analyticsLog(QStringLiteral("[Analytics] Skipping Application Backgrounded event - "
                                    "captureApplicationLifecycleEvents is disabled in configuration"));
        return;
    }
    sdk->captureInternal(QStringLiteral("Application Backgrounded"), std::nullopt, std::nullopt, std::nullopt,
                         std::nullopt, std::nullopt, std::nullopt, false);
}

} // namespace analytics
