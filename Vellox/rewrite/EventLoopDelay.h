#pragma once

#include <QCoreApplication>
#include <QTimer>

#include <coroutine>

// co_await EventLoopDelay{ms}: resumes the coroutine from the event loop once
// `ms` milliseconds have passed; the loop keeps serving everything else
// meanwhile. The awaiting coroutine must not be destroyed before it resumes.
struct EventLoopDelay {
    int milliseconds = 0;

    bool await_ready() const noexcept { return false; }
    void await_suspend(std::coroutine_handle<> handle) const
    {
        QTimer::singleShot(milliseconds, Qt::PreciseTimer, QCoreApplication::instance(), [handle] { handle.resume(); });
    }
    void await_resume() const noexcept {}
};
