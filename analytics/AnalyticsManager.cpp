#include "AnalyticsManager.h"

#include "analytics/AnalyticsClient.h"
#include "analytics/AnalyticsConfig.h"
#include "platform/AppInfo.h"
#include "platform/Defaults.h"
#include "platform/Platform.h"

#include "analytics/sdk/AnalyticsSerialQueue.h"

#include <QCoreApplication>
#include <QtGlobal>

#include <memory>
#include <mutex>

namespace analytics {

bool AnalyticsManager::didRunConfigure_ = false;
bool AnalyticsManager::trackingEnabled_ = false;
bool AnalyticsManager::appInstalledPosted_ = false;

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

// One sender at a time for the whole process: events reach the client one at
// a time and in the order they were sent, and a burst of events costs no
// thread each. It ends with the application object: what is still waiting
// goes out first, while everything the client needs is still there, and its
// thread is gone before the process's own end, where a thread still running
// would be caught by whatever inspects the process at exit. Without an
// application object it lives as long as the process.
std::mutex& senderLock()
{
    static std::mutex lock;
    return lock;
}

// Never destroyed itself, so a sender made without an application object is
// not ended at exit while the statics its sends use are going.
std::shared_ptr<AnalyticsSerialQueue>& currentSender()
{
    static auto* const current = new std::shared_ptr<AnalyticsSerialQueue>;
    return *current;
}

void endSender()
{
    std::shared_ptr<AnalyticsSerialQueue> ending;
    {
        std::lock_guard lock(senderLock());
        ending.swap(currentSender());
    }
    // Dropping the last owner lets the queued sends run and joins the thread.
    ending.reset();
}

std::shared_ptr<AnalyticsSerialQueue> sender()
{
    std::lock_guard lock(senderLock());
    std::shared_ptr<AnalyticsSerialQueue>& current = currentSender();
    if (!current) {
        current = std::make_shared<AnalyticsSerialQueue>(QStringLiteral("analytics-send"));
        if (QCoreApplication::instance())
            qAddPostRoutine(endSender);
    }
    return current;
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

    QString host = qEnvironmentVariable(kHostEnvironmentVariable).trimmed();
    if (host.isEmpty())
        host = infoText(kHostInfoKey);
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
    {
        // The flag is only written once the event is queued; until then this
        // keeps a second call in the same run from sending it again.
        QMutexLocker lock(&enabledLock());
        if (appInstalledPosted_)
            return;
        appInstalledPosted_ = true;
    }
    sender()->post([key] {
        const std::shared_ptr<AnalyticsClient> client = AnalyticsClient::shared();
        if (!client)
            return;
        client->capture(QString::fromLatin1(kAppInstalledEvent));
        // Only now is the event in the client's queue on disk.
        if (const auto& defaults = platform::Platform::current().defaults)
            defaults->setValue(key, true);
    });
}

void AnalyticsManager::track(const QString& name, const std::optional<QVariantMap>& properties)
{
    if (!trackingEnabled())
        return;
    // The caller never waits for the client, and nothing the client does can
    // reach the caller.
    sender()->post([name, properties] {
        const std::shared_ptr<AnalyticsClient> client = AnalyticsClient::shared();
        if (!client)
            return;
        if (properties)
            client->capture(name, *properties);
        else
            client->capture(name);
    });
}

void AnalyticsManager::waitForPendingSends()
{
    std::shared_ptr<AnalyticsSerialQueue> current;
    {
        std::lock_guard lock(senderLock());
        current = currentSender();
    }
    if (current)
        current->waitForIdle();
}

void AnalyticsManager::resetForTesting()
{
    QMutexLocker lock(&enabledLock());
    didRunConfigure_ = false;
    trackingEnabled_ = false;
    appInstalledPosted_ = false;
}

} // namespace analytics
