#include "SerialQueue.h"

#include <QThreadPool>

namespace analytics {

void SerialQueue::async(std::function<void()> task)
{
    {
        QMutexLocker lock(&mutex_);
        tasks_.push_back(std::move(task));
        if (running_)
            return;
        running_ = true;
    }
    QThreadPool::globalInstance()->start([self = shared_from_this()] { self->drain(); });
}

void SerialQueue::drain()
{
    for (;;) {
        std::function<void()> task;
        {
            QMutexLocker lock(&mutex_);
            if (tasks_.empty()) {
                running_ = false;
                return;
            }
            task = std::move(tasks_.front());
            tasks_.pop_front();
        }
        task();
    }
}

} // namespace analytics
