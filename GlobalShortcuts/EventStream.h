#pragma once

#include "GlobalShortcuts/Name.h"

#include <QObject>
#include <QPointer>
#include <QUuid>

#include <coroutine>
#include <deque>
#include <optional>

namespace GlobalShortcuts {

enum class EventType { keyDown, keyUp };

// The key-down and key-up events of one name (made by events()). Events are
// buffered, without bound, until taken: with takeNext(), in a slot of
// eventAvailable(), or by awaiting next() in a coroutine. The stream never
// ends by itself; cancelling or destroying it ends it.
class EventStream : public QObject {
    Q_OBJECT
public:
    ~EventStream() override;

    std::optional<EventType> takeNext();
    qsizetype pendingCount() const { return qsizetype(buffer_.size()); }

    struct NextAwaiter {
        QPointer<EventStream> stream;
        bool await_ready() const;
        void await_suspend(std::coroutine_handle<> waiting);
        std::optional<EventType> await_resume();
    };
    // `co_await stream->next()`: the next event, waiting when none is
    // buffered; none once the stream was cancelled and its buffer is empty.
    // The waiting coroutine resumes from the event loop, never inside the
    // dispatch. Destroying the stream while a coroutine waits leaves that
    // coroutine suspended, so cancel it first.
    NextAwaiter next() { return {this}; }

    void cancel();
    bool isCancelled() const { return cancelled_; }

    const Name& name() const { return name_; }

signals:
    void eventAvailable();

private:
    friend std::unique_ptr<EventStream> makeEventStream(const Name&, std::optional<EventType>);
    EventStream(Name name, std::optional<EventType> only);

    void yield(EventType type);
    void end();
    void resumeWaiterLater();

    Name name_;
    std::optional<EventType> only_;
    QUuid id_;
    std::deque<EventType> buffer_;
    std::coroutine_handle<> waiter_;
    bool cancelled_ = false;
    bool ended_ = false;
};

std::unique_ptr<EventStream> makeEventStream(const Name& name, std::optional<EventType> only);

} // namespace GlobalShortcuts
