#pragma once

#include "analytics/AnalyticsMulticastCallback.h"

#include <QDateTime>
#include <QMutex>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace analytics {

// The current session: its id (a time-ordered UUID text), when it started,
// when it was last active, and whether the application is in the
// background. An id is rotated after 30 minutes without activity or 24 hours
// of length while the application has focus, and cleared when it has not.
// Each decision and its change are made under one lock, so two threads never
// both rotate the same session.
//
// Made with std::make_shared; its lifecycle handlers hold it weakly.
class AnalyticsSessionManager : public std::enable_shared_from_this<AnalyticsSessionManager> {
public:
    enum class SessionIDChangeReason {
        sessionIdEmpty,
        sessionStart,
        sessionEnd,
        sessionReset,
        sessionTimeout,
        sessionPastMaximumLength,
        customSessionId,
    };
    static QString rawValue(SessionIDChangeReason reason);
    static QString caseName(SessionIDChangeReason reason);
    static std::optional<SessionIDChangeReason> reasonFromRawValue(const QString& raw);

    static constexpr double sessionActivityThreshold = 1800; // seconds
    static constexpr double sessionMaxLengthThreshold = 86400; // seconds

    // The session manager of the shared SDK object.
    static const std::shared_ptr<AnalyticsSessionManager>& shared();

    AnalyticsSessionManager() = default;

    // The id to stamp on something that happens at `date`; may start,
    // rotate or clear the session unless `readOnly`.
    std::optional<QString> getSessionId(const QDateTime& date, bool readOnly);
    void startSession(std::function<void()> completion = {});
    void endSession();
    void resetSession();
    void setSessionId(const QString& id);
    void touchSession();
    std::optional<QString> rotateSession(bool force, const QDateTime& date, SessionIDChangeReason reason);
    void registerNotifications();
    // Drops the lifecycle subscriptions (a reset does, until the next set-up).
    void unregisterNotifications();

    AnalyticsMulticastCallback<>& onSessionIdChanged() { return onSessionIdChanged_; }
    bool isAppInBackground() const;

private:
    struct Change {
        bool changed = false;
        std::optional<QString> id;
        SessionIDChangeReason reason = SessionIDChangeReason::sessionStart;
    };
    // Under sessionLock_.
    Change setLocked(const std::optional<QString>& id, std::optional<double> at, SessionIDChangeReason reason);
    Change rotateLocked(bool force, double at, SessionIDChangeReason reason);
    // After the lock: the signal and the log line.
    void announce(const Change& change);
    static bool sessionsDisabled();
    void onBecameActive();
    void onEnteredBackground();

    mutable QMutex sessionLock_;
    std::optional<QString> sessionId_;
    std::optional<double> sessionStartTimestamp_;
    std::optional<double> sessionActivityTimestamp_;
    bool isAppInBackground_ = true;
    AnalyticsMulticastCallback<> onSessionIdChanged_;
    std::shared_ptr<RegistrationToken> didBecomeActiveToken_;
    std::shared_ptr<RegistrationToken> didEnterBackgroundToken_;
};

} // namespace analytics
