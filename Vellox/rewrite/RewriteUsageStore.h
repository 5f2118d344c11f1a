#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

// Counts finished rewrites: today's count, kept in the user defaults with the
// day it belongs to, and the count since launch. Main thread only; both counts
// are announced on every assignment.
class RewriteUsageStore final : public QObject {
    Q_OBJECT

public:
    static constexpr const char* todayCountKey = "vellox.usage.todayCount";
    static constexpr const char* dayKeyKey = "vellox.usage.dayKey";

    static RewriteUsageStore& shared();
    // Drops the shared instance so the next shared() starts afresh against
    // the platform installed then. Tests only.
    static void resetSharedForTesting();

    qint64 todayCount() const { return todayCount_; }
    qint64 sessionCount() const { return sessionCount_; }

    void recordSuccess();

    // What the store does when the calendar day changes: today's count
    // starts again from 0. A timer set for the next local midnight calls it;
    // tests call it after moving the clock.
    void calendarDayChanged();

    // "yyyy-MM-dd" of now in the local calendar and time zone.
    static QString currentDayKey();

signals:
    void todayCountChanged(qint64 count);
    void sessionCountChanged(qint64 count);

private:
    RewriteUsageStore();

    void loadFromStorage();
    void setTodayCount(qint64 count);
    void scheduleDayChange();

    qint64 todayCount_ = 0;
    qint64 sessionCount_ = 0;
    QTimer dayChangeTimer_;
};
