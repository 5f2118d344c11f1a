#include "AnalyticsSessionManager.h"

#include "analytics/AnalyticsEvent.h"
#include "analytics/AnalyticsLog.h"
#include "analytics/AnalyticsStorage.h"
#include "analytics/ApplicationLifecyclePublisher.h"
#include "analytics/TimeBasedEpochGenerator.h"
#include "platform/Clock.h"
#include "platform/Platform.h"

#include <array>

namespace analytics {

namespace {

using Reason = AnalyticsSessionManager::SessionIDChangeReason;

struct ReasonInfo {
    const char* raw;
    const char* caseName;
};

constexpr std::array<ReasonInfo, 7> kReasons = {{
    {"Session id was empty", "sessionIdEmpty"},
    {"Session started", "sessionStart"},
    {"Session ended", "sessionEnd"},
    {"Session was reset", "sessionReset"},
    {"Session timed out", "sessionTimeout"},
    {"Session past maximum length", "sessionPastMaximumLength"},
    {"Custom session set", "customSessionId"},
}};

double secondsOf(const QDateTime& date)
{
    return static_cast<double>(date.toMSecsSinceEpoch()) / 1000.0;
}

QDateTime now()
{
    const auto& clock = platform::Platform::current().clock;
    return clock ? clock->now() : QDateTime::currentDateTimeUtc();
}

QString newId()
{
    return uuidText(TimeBasedEpochGenerator::shared().v7());
}

} // namespace

QString AnalyticsSessionManager::rawValue(SessionIDChangeReason reason)
{
    return QString::fromLatin1(kReasons[static_cast<size_t>(reason)].raw);
}

QString AnalyticsSessionManager::caseName(SessionIDChangeReason reason)
{
    return QString::fromLatin1(kReasons[static_cast<size_t>(reason)].caseName);
}

std::optional<Reason> AnalyticsSessionManager::reasonFromRawValue(const QString& raw)
{
    for (size_t i = 0; i < kReasons.size(); ++i)
        if (raw == QLatin1String(kReasons[i].raw))
            return static_cast<Reason>(i);
    return std::nullopt;
}

const std::shared_ptr<AnalyticsSessionManager>& AnalyticsSessionManager::shared()
{
    static const std::shared_ptr<AnalyticsSessionManager> manager = std::make_shared<AnalyticsSessionManager>();
    return manager;
}

bool AnalyticsSessionManager::sessionsDisabled()
{
    return analyticsSdkName() == QLatin1String("analytics-react-native");
}

bool AnalyticsSessionManager::isAppInBackground() const
{
    QMutexLocker lock(&sessionLock_);
    return isAppInBackground_;
}

AnalyticsSessionManager::Change AnalyticsSessionManager::setLocked(const std::optional<QString>& id,
                                                                   std::optional<double> at, Reason reason)
{
    sessionId_ = id;
    sessionStartTimestamp_ = at;
    sessionActivityTimestamp_ = at;
    return {true, id, reason};
}

AnalyticsSessionManager::Change AnalyticsSessionManager::rotateLocked(bool force, double at, Reason reason)
{
    if (!force && (!sessionId_ || sessionId_->isEmpty()))
        return {};
    return setLocked(newId(), at, reason);
}

void AnalyticsSessionManager::announce(const Change& change)
{
    if (!change.changed)
        return;
    onSessionIdChanged_.invoke();
    if (change.id)
        analyticsLog(QStringLiteral("New session id created ") + *change.id + QStringLiteral(" (") +
                     caseName(change.reason) + QStringLiteral(")"));
    else
        analyticsLog(QStringLiteral("Session id cleared - reason: (") + caseName(change.reason) + QStringLiteral(")"));
}

std::optional<QString> AnalyticsSessionManager::getSessionId(const QDateTime& date, bool readOnly)
{
    const double at = secondsOf(date);
    Change change;
    std::optional<QString> result;
    {
        QMutexLocker lock(&sessionLock_);
        if (readOnly || sessionsDisabled())
            return sessionId_;
        const bool background = isAppInBackground_;
        result = sessionId_;
        if ((!sessionId_ || sessionId_->isEmpty()) && !background) {
            change = setLocked(newId(), at, Reason::sessionIdEmpty);
            result = change.id;
        } else if (sessionActivityTimestamp_ && at - *sessionActivityTimestamp_ > sessionActivityThreshold) {
            if (background) {
                change = setLocked(std::nullopt, std::nullopt, Reason::sessionTimeout);
                result.reset();
            } else {
                change = rotateLocked(false, at, Reason::sessionTimeout);
                result = sessionId_;
            }
        } else if (sessionStartTimestamp_ && at - *sessionStartTimestamp_ > sessionMaxLengthThreshold) {
            if (background) {
                change = setLocked(std::nullopt, std::nullopt, Reason::sessionPastMaximumLength);
                result.reset();
            } else {
                change = rotateLocked(false, at, Reason::sessionPastMaximumLength);
                result = sessionId_;
            }
        }
    }
    announce(change);
    return result;
}

std::optional<QString> AnalyticsSessionManager::rotateSession(bool force, const QDateTime& date, Reason reason)
{
    Change change;
    std::optional<QString> result;
    {
        QMutexLocker lock(&sessionLock_);
        change = rotateLocked(force, secondsOf(date), reason);
        result = sessionId_;
    }
    announce(change);
    return result;
}

void AnalyticsSessionManager::startSession(std::function<void()> completion)
{
    if (sessionsDisabled())
        return;
    Change change;
    {
        QMutexLocker lock(&sessionLock_);
        change = setLocked(newId(), secondsOf(now()), Reason::sessionStart);
    }
    announce(change);
    if (completion)
        completion();
}

void AnalyticsSessionManager::endSession()
{
    if (sessionsDisabled())
        return;
    Change change;
    {
        QMutexLocker lock(&sessionLock_);
        change = setLocked(std::nullopt, std::nullopt, Reason::sessionEnd);
    }
    announce(change);
}

void AnalyticsSessionManager::resetSession()
{
    if (sessionsDisabled())
        return;
    Change change;
    {
        QMutexLocker lock(&sessionLock_);
        change = setLocked(newId(), secondsOf(now()), Reason::sessionReset);
    }
    announce(change);
}

void AnalyticsSessionManager::setSessionId(const QString& id)
{
    Change change;
    {
        QMutexLocker lock(&sessionLock_);
        change = setLocked(id, secondsOf(now()), Reason::customSessionId);
    }
    announce(change);
}

void AnalyticsSessionManager::touchSession()
{
    if (sessionsDisabled())
        return;
    Change change;
    {
        QMutexLocker lock(&sessionLock_);
        if (!sessionId_)
            return;
        const double at = secondsOf(now());
        if (sessionActivityTimestamp_ && at - *sessionActivityTimestamp_ > 0 &&
            at - *sessionActivityTimestamp_ > sessionActivityThreshold)
            change = rotateLocked(false, at, Reason::sessionTimeout);
        else
            sessionActivityTimestamp_ = at;
    }
    announce(change);
}

void AnalyticsSessionManager::onBecameActive()
{
    {
        QMutexLocker lock(&sessionLock_);
        if (!isAppInBackground_)
            return;
    }
    touchSession();
    QMutexLocker lock(&sessionLock_);
    isAppInBackground_ = false;
}

void AnalyticsSessionManager::onEnteredBackground()
{
    {
        QMutexLocker lock(&sessionLock_);
        if (isAppInBackground_)
            return;
    }
    touchSession();
    QMutexLocker lock(&sessionLock_);
    isAppInBackground_ = true;
}

void AnalyticsSessionManager::registerNotifications()
{
    AppLifecyclePublishing& publisher = DI::main().appLifecyclePublisher();
    const std::weak_ptr<AnalyticsSessionManager> weak = weak_from_this();
    didBecomeActiveToken_ = publisher.onDidBecomeActive().subscribe([weak] {
        if (const auto self = weak.lock())
            self->onBecameActive();
    });
    didEnterBackgroundToken_ = publisher.onDidEnterBackground().subscribe([weak] {
        if (const auto self = weak.lock())
            self->onEnteredBackground();
    });
}

void AnalyticsSessionManager::unregisterNotifications()
{
    didBecomeActiveToken_.reset();
    didEnterBackgroundToken_.reset();
}

} // namespace analytics
