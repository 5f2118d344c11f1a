#include "AnalyticsManager.h"

#include "analytics/AnalyticsClient.h"
#include "analytics/AnalyticsConfig.h"
#include "platform/AppInfo.h"
#include "platform/Defaults.h"
#include "platform/Platform.h"

#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

namespace analytics {

bool AnalyticsManager::didRunConfigure_ = false;
bool AnalyticsManager::trackingEnabled_ = false;

namespace {

// The information file's value as trimmed text; anything but a string is empty.
QString infoText(const char* key)
{
    const auto& info = platform::Platform::current().appInfo;
    if (!info)
        return {};
    const QVariant value = info->value(QString::fromLatin1(key));
    if (value.typeId() != QMetaType::QString)
        return {};
    return value.toString().trimmed();
}

} // namespace

QMutex& AnalyticsManager::enabledLock()
{
    static QMutex lock;
    return lock;
}

bool AnalyticsManager::trackingEnabled()
{
    QMutexLocker lock(&enabledLock());
    return trackingEnabled_;
}

void AnalyticsManager::configureIfNeeded()
{
    // Held through set-up, so no event reaches the client before it is ready.
    QMutexLocker lock(&enabledLock());
    if (didRunConfigure_)
        return;
    didRunConfigure_ = true;

    const QString token = infoText(kApiKeyInfoKey);
    if (token.isEmpty())
        return;
    const std::shared_ptr<AnalyticsClient> client = AnalyticsClient::shared();
    if (!client)
        return;

    const QString host = infoText(kHostInfoKey);
    auto config = host.isEmpty() ? std::make_shared<AnalyticsConfig>(token)
                                 : std::make_shared<AnalyticsConfig>(token, host);
    config->setCaptureApplicationLifecycleEvents(false);
    config->setCaptureScreenViews(false);
    config->setPreloadFeatureFlags(false);
    config->setSendFeatureFlagEvent(false);
    client->setup(std::move(config));
    trackingEnabled_ = true;
}

void AnalyticsManager::trackAppInstalledOnceIfNeeded()
{
    // Without analytics the flag stays unset, so a later build with a token
    // still announces the installation once.
    if (!trackingEnabled())
        return;
    const auto& defaults = platform::Platform::current().defaults;
    if (!defaults)
        return;
    const QString key = QString::fromLatin1(kAppInstalledSentKey);
    if (defaults->value(key).toBool())
        return;
    defaults->setValue(key, true);
    track(QString::fromLatin1(kAppInstalledEvent));
}

void AnalyticsManager::track(const QString& name, const std::optional<QVariantMap>& properties)
{
    if (!trackingEnabled())
        return;
    // Detached, with the future dropped: the caller never waits for the
    // client, and nothing the client does can reach the caller.
    (void)QtConcurrent::run(QThreadPool::globalInstance(), [name, properties] {
        const std::shared_ptr<AnalyticsClient> client = AnalyticsClient::shared();
        if (!client)
            return;
        if (properties)
            client->capture(name, *properties);
        else
            client->capture(name);
    });
}

void AnalyticsManager::resetForTesting()
{
    QMutexLocker lock(&enabledLock());
    didRunConfigure_ = false;
    trackingEnabled_ = false;
}

} // namespace analytics
