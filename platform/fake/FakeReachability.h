#pragma once

#include "platform/Reachability.h"

#include <QMutex>

namespace platform::fake {

// A network path that a test sets; each set signals a change.
class FakeReachability final : public Reachability {
    Q_OBJECT
public:
    Path path() const override
    {
        QMutexLocker lock(&mutex_);
        return path_;
    }
    void setPath(Path path)
    {
        {
            QMutexLocker lock(&mutex_);
            path_ = path;
        }
        emit pathChanged(path);
    }

private:
    mutable QMutex mutex_;
    Path path_ = Path::Unmetered;
};

} // namespace platform::fake
