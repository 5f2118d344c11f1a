#pragma once

#include "platform/SystemLog.h"

#include <QList>
#include <QMutex>
#include <QStringList>

namespace platform::fake {

class FakeSystemLog final : public SystemLog {
public:
    struct Line {
        LogLevel level;
        QString subsystem;
        QString category;
        QString message;
    };

    void write(LogLevel level, const QString& subsystem, const QString& category,
               const QString& message) override
    {
        QMutexLocker lock(&mutex_);
        lines_.append({level, subsystem, category, message});
    }

    QList<Line> lines() const
    {
        QMutexLocker lock(&mutex_);
        return lines_;
    }

    QStringList messages() const
    {
        QMutexLocker lock(&mutex_);
        QStringList out;
        for (const Line& line : lines_)
            out.append(line.message);
        return out;
    }

    void clear()
    {
        QMutexLocker lock(&mutex_);
        lines_.clear();
    }

private:
    mutable QMutex mutex_;
    QList<Line> lines_;
};

} // namespace platform::fake
