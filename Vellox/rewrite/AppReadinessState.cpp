#include "AppReadinessState.h"

#include "Vellox/settings/VelloxLog.h"
#include "platform/AccessibilityTrust.h"
#include "platform/Opener.h"
#include "platform/Platform.h"

#include <QCoroFuture>
#include <QCoroSignal>
#include <QDeadlineTimer>
#include <QPointer>
#include <QtConcurrent>

namespace {

QCoro::Task<bool> queryAccessibilityTrustedOffMainThread()
{
    // The service is held by the task, so a platform swapped meanwhile (in
    // tests) cannot pull it away under the query.
    std::shared_ptr<platform::AccessibilityTrust> trust = platform::Platform::current().accessibilityTrust;
    if (!trust)
        co_return false;
    // A named future: g++ 12 mishandles lambda temporaries inside co_await.
    QFuture<bool> answer = QtConcurrent::run([trust] { return trust->isTrusted(); });
    const bool trusted = co_await answer;
    co_return trusted;
}

} // namespace

AppReadinessState& AppReadinessState::shared()
{
    static auto* instance = new AppReadinessState; // lives until exit
    return *instance;
}

QCoro::Task<void> AppReadinessState::refreshPermissionStatusAsync()
{
    VelloxLog::permissions().debug(QStringLiteral("refreshPermissionStatusAsync begin"));
    const bool trusted = co_await queryAccessibilityTrustedOffMainThread();
    VelloxLog::permissions().debug(
        QStringLiteral("refreshPermissionStatusAsync AX result trusted=%1").arg(trusted ? 1 : 0));
    applyTrustQueryResult(trusted);
}

void AppReadinessState::schedulePermissionRefresh()
{
    QMetaObject::invokeMethod(
        this, [this] { refreshPermissionStatusAsync(); }, Qt::QueuedConnection);
}

void AppReadinessState::openAccessibilitySettingsAndWatch()
{
    const platform::Platform& services = platform::Platform::current();
    if (services.accessibilityTrust)
        services.accessibilityTrust->prompt();
    if (services.opener)
        services.opener->openAccessibilitySettings();
    startPolling(kWatchSeconds, kWatchIntervalNanoseconds);
}

void AppReadinessState::startPolling(double durationSeconds, std::uint64_t intervalNanoseconds)
{
    ++pollGeneration_;
    emit pollCancelled();
    const auto interval = std::chrono::milliseconds(intervalNanoseconds / 1'000'000);
    poll(pollGeneration_, durationSeconds, interval);
}

QCoro::Task<void> AppReadinessState::poll(std::uint64_t generation, double durationSeconds,
                                          std::chrono::milliseconds interval)
{
    runningPoll_ = generation;
    const QDeadlineTimer deadline(qint64(durationSeconds * 1000));
    QPointer<AppReadinessState> self(this);
    while (!deadline.hasExpired() && self && pollGeneration_ == generation) {
        co_await refreshPermissionStatusAsync();
        if (!self || pollGeneration_ != generation)
            break;
        if (permissionStatus_ == AccessibilityPermissionStatus::granted)
            break;
        // Either the interval passes or a new watch interrupts the sleep.
        co_await qCoro(this, &AppReadinessState::pollCancelled, interval);
    }
    if (self && runningPoll_ == generation)
        runningPoll_ = std::uint64_t(-1);
}

void AppReadinessState::applyTrustQueryResult(bool trusted)
{
    permissionStatus_ = trusted ? AccessibilityPermissionStatus::granted : AccessibilityPermissionStatus::denied;
    emit permissionStatusChanged(permissionStatus_);
}
