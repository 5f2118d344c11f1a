#pragma once

#include <QCoroTask>
#include <QObject>
#include <QPointer>

#include <chrono>
#include <functional>

// Work that the application starts "in a task" on the main thread runs on a
// later turn of the event loop, never inline, so the caller's remaining
// steps happen first.
namespace MainActor {

// Runs `work` on a later turn of the main event loop, unless `context` is
// gone by then.
void post(QObject* context, std::function<void()> work);

// Runs the coroutine produced by `start` on a later turn; the task runs
// detached until it finishes.
void postTask(QObject* context, std::function<QCoro::Task<void>()> start);

// Calls `work` once after `delay`, while `context` lives.
void after(QObject* context, std::chrono::milliseconds delay, std::function<void()> work);

} // namespace MainActor
