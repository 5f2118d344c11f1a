#pragma once

#include "analytics/AnalyticsLog.h"

#include <QMutex>
#include <QStringList>

// Turns the client's debug log on and records its lines for the lifetime of
// the object.
class AnalyticsLogRecorder {
public:
    AnalyticsLogRecorder()
    {
        analytics::debugLogEnabled = true;
        analytics::setAnalyticsLogSink([this](const QString& line) {
            QMutexLocker lock(&mutex_);
            lines_.append(line);
        });
    }
    ~AnalyticsLogRecorder()
    {
        analytics::setAnalyticsLogSink({});
        analytics::debugLogEnabled = false;
    }

    QStringList lines() const
    {
        QMutexLocker lock(&mutex_);
        return lines_;
    }
    bool contains(const QString& line) const { return lines().contains(line); }
    int count(const QString& line) const { return static_cast<int>(lines().count(line)); }
    bool containsPrefix(const QString& prefix) const
    {
        for (const QString& line : lines())
            if (line.startsWith(prefix))
                return true;
        return false;
    }
    void clear()
    {
        QMutexLocker lock(&mutex_);
        lines_.clear();
    }

private:
    mutable QMutex mutex_;
    QStringList lines_;
};
