#include "EventStream.h"

#include "GlobalShortcuts/RegistryInternals.h"

#include <QCoreApplication>

namespace GlobalShortcuts {

namespace {

// Table changes of a stream's start and end run on the event loop in the order
// posted, so a stream that ends at once still has its actions added first.
void onMainQueue(std::function<void()> work)
{
    if (QCoreApplication* app = QCoreApplication::instance())
        QMetaObject::invokeMethod(app, std::move(work), Qt::QueuedConnection);
}

} // namespace

std::unique_ptr<EventStream> makeEventStream(const Name& name, std::optional<EventType> only)
{
    std::unique_ptr<EventStream> stream(new EventStream(name, only));
    QPointer<EventStream> weak(stream.get());
    const auto yieldTo = [weak](EventType type) {
        return [weak, type] {
            if (weak)
                weak->yield(type);
        };
    };
    onMainQueue([name, id = stream->id_, down = yieldTo(EventType::keyDown), up = yieldTo(EventType::keyUp)] {
        detail::addStreamHandlers(name, id, down, up);
    });
    return stream;
}

EventStream::EventStream(Name name, std::optional<EventType> only)
    : name_(std::move(name))
    , only_(only)
    , id_(QUuid::createUuid())
{
}

EventStream::~EventStream()
{
    end();
}

std::optional<EventType> EventStream::takeNext()
{
    if (buffer_.empty())
        return std::nullopt;
    const EventType type = buffer_.front();
    buffer_.pop_front();
    return type;
}

void EventStream::cancel()
{
    if (cancelled_)
        return;
    cancelled_ = true;
    end();
    resumeWaiterLater();
}

void EventStream::yield(EventType type)
{
    if (cancelled_ || (only_ && *only_ != type))
        return;
    buffer_.push_back(type);
    resumeWaiterLater();
    emit eventAvailable();
}

void EventStream::end()
{
    if (std::exchange(ended_, true))
        return;
    onMainQueue([name = name_, id = id_] { detail::removeStreamHandlers(name, id); });
}

void EventStream::resumeWaiterLater()
{
    if (!waiter_)
        return;
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (auto waiting = std::exchange(waiter_, {}))
                waiting.resume();
        },
        Qt::QueuedConnection);
}

bool EventStream::NextAwaiter::await_ready() const
{
    return !stream || stream->cancelled_ || !stream->buffer_.empty();
}

void EventStream::NextAwaiter::await_suspend(std::coroutine_handle<> waiting)
{
    stream->waiter_ = waiting;
}

std::optional<EventType> EventStream::NextAwaiter::await_resume()
{
    return stream ? stream->takeNext() : std::nullopt;
}

} // namespace GlobalShortcuts
