#pragma once

#include <QString>

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace analytics {

// Runs jobs one at a time, in the order they were posted, on a thread of its
// own. Destruction lets the jobs already posted run first; when the last owner
// lets go from inside one of the queue's own jobs, the thread finishes the
// remaining jobs and ends by itself.
class AnalyticsSerialQueue {
public:
    explicit AnalyticsSerialQueue(QString name);
    ~AnalyticsSerialQueue();
    AnalyticsSerialQueue(const AnalyticsSerialQueue&) = delete;
    AnalyticsSerialQueue& operator=(const AnalyticsSerialQueue&) = delete;

    void post(std::function<void()> job);
    // Blocks until every job posted so far has run (at once on the queue's
    // own thread, where waiting would never end).
    void waitForIdle();

private:
    struct State {
        std::mutex mutex;
        std::condition_variable changed;
        std::deque<std::function<void()>> jobs;
        bool running = false;
        bool stopping = false;
        std::thread::id thread;
    };
    static void run(std::shared_ptr<State> state);

    std::shared_ptr<State> state_;
    std::thread thread_;
};

// Runs the job on the main thread's event loop, after the current event; at
// once when there is no application object.
void postToMainThread(std::function<void()> job);

} // namespace analytics
