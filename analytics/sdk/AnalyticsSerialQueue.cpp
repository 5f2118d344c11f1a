#include "AnalyticsSerialQueue.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <pthread.h>

namespace analytics {

AnalyticsSerialQueue::AnalyticsSerialQueue(QString name)
    : state_(std::make_shared<State>())
    , thread_(&AnalyticsSerialQueue::run, state_)
{
    // Shown by debuggers and top; the kernel takes at most 15 bytes.
    ::pthread_setname_np(thread_.native_handle(), name.left(15).toUtf8().constData());
    std::lock_guard lock(state_->mutex);
    state_->thread = thread_.get_id();
}

AnalyticsSerialQueue::~AnalyticsSerialQueue()
{
    {
        std::lock_guard lock(state_->mutex);
        state_->stopping = true;
    }
    state_->changed.notify_all();
    if (std::this_thread::get_id() == thread_.get_id())
        thread_.detach(); // the thread owns the state too and ends by itself
    else
        thread_.join();
}

void AnalyticsSerialQueue::post(std::function<void()> job)
{
    // The job may end the queue's owner, and with it this object, before
    // post() returns; the state outlives both.
    const std::shared_ptr<State> state = state_;
    {
        std::lock_guard lock(state->mutex);
        state->jobs.push_back(std::move(job));
    }
    state->changed.notify_all();
}

void AnalyticsSerialQueue::waitForIdle()
{
    std::unique_lock lock(state_->mutex);
    if (std::this_thread::get_id() == state_->thread)
        return;
    state_->changed.wait(lock, [&] { return state_->jobs.empty() && !state_->running; });
}

void AnalyticsSerialQueue::run(std::shared_ptr<State> state)
{
    std::unique_lock lock(state->mutex);
    for (;;) {
        state->changed.wait(lock, [&] { return !state->jobs.empty() || state->stopping; });
        if (state->jobs.empty())
            return;
        std::function<void()> job = std::move(state->jobs.front());
        state->jobs.pop_front();
        state->running = true;
        lock.unlock();
        job();
        job = nullptr; // whatever the job held goes before the queue looks idle
        lock.lock();
        state->running = false;
        state->changed.notify_all();
    }
}

void postToMainThread(std::function<void()> job)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) {
        job();
        return;
    }
    QMetaObject::invokeMethod(app, std::move(job), Qt::QueuedConnection);
}

} // namespace analytics
