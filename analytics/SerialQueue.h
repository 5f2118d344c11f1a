#pragma once

#include <QMutex>

#include <deque>
#include <functional>
#include <memory>

namespace analytics {

// Runs tasks one after another, in order, on the global thread pool. Tasks
// hold what they need themselves; the queue may be released while one runs.
class SerialQueue : public std::enable_shared_from_this<SerialQueue> {
public:
    static std::shared_ptr<SerialQueue> create() { return std::shared_ptr<SerialQueue>(new SerialQueue); }
    void async(std::function<void()> task);

private:
    SerialQueue() = default;
    void drain();

    QMutex mutex_;
    std::deque<std::function<void()>> tasks_;
    bool running_ = false;
};

} // namespace analytics
