#pragma once

#include "gemini-client/Error.h"

#include <QTimer>

#include <coroutine>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

namespace gemini {

namespace detail {

// The buffer between a producer and the one consumer of a stream, on one
// thread. It has no bound: the producer never waits for the consumer, and
// goes on filling it after the consumer has gone.
template <class T>
class Channel : public std::enable_shared_from_this<Channel<T>> {
public:
    void yield(T value)
    {
        if (finished_)
            return;
        buffer_.push_back(std::move(value));
        wake();
    }

    // Ends the stream, with an error or normally; later calls change nothing.
    void finish(ErrorPtr error = nullptr)
    {
        if (finished_)
            return;
        finished_ = true;
        error_ = std::move(error);
        wake();
    }

    bool isFinished() const { return finished_; }
    bool isReady() const { return !buffer_.empty() || finished_; }
    const ErrorPtr& error() const { return error_; }

    std::optional<T> take()
    {
        if (buffer_.empty())
            return std::nullopt;
        T value = std::move(buffer_.front());
        buffer_.pop_front();
        return value;
    }

    void setWaiter(std::coroutine_handle<> waiter)
    {
        waiter_ = waiter;
        if (isReady())
            wake();
    }

    void clearWaiter(std::coroutine_handle<> waiter)
    {
        if (waiter_ == waiter)
            waiter_ = {};
    }

private:
    // The consumer resumes from the event loop, never inside the producer's
    // call: the producer is usually in the middle of reading a network reply.
    void wake()
    {
        if (!waiter_ || wakePosted_)
            return;
        wakePosted_ = true;
        QTimer::singleShot(0, [weak = this->weak_from_this()] {
            if (auto self = weak.lock()) {
                self->wakePosted_ = false;
                if (auto waiter = std::exchange(self->waiter_, {}))
                    waiter.resume();
            }
        });
    }

    std::deque<T> buffer_;
    bool finished_ = false;
    ErrorPtr error_;
    std::coroutine_handle<> waiter_;
    bool wakePosted_ = false;
};

} // namespace detail

// An asynchronous stream of values that ends normally or with an error.
//
//     while (auto value = co_await stream.next()) { ... }
//
// next() gives the next value, nullopt at the end, and throws the stream's
// error once; after an error it gives nullopt. A stream may check each value
// as it is pulled and fail there, and may translate the producer's error.
// Dropping the stream early is fine: the producer finishes on its own.
template <class T>
class AsyncStream {
public:
    using Check = std::function<void(const T&)>; // throws to fail the stream at that value
    using MapError = std::function<ErrorPtr(const ErrorPtr&)>;

private:
    // Declared before Next, which holds it.
    struct State {
        State(std::shared_ptr<detail::Channel<T>> channel, Check check, MapError mapError)
            : channel(std::move(channel))
            , check(std::move(check))
            , mapError(std::move(mapError))
        {
        }

        std::optional<T> pull()
        {
            if (done)
                return std::nullopt;
            if (std::optional<T> value = channel->take()) {
                if (check) {
                    try {
                        check(*value);
                    } catch (...) {
                        done = true;
                        throw;
                    }
                }
                return value;
            }
            done = true;
            if (const ErrorPtr& error = channel->error())
                (mapError ? mapError(error) : error)->raise();
            return std::nullopt;
        }

        std::shared_ptr<detail::Channel<T>> channel;
        Check check;
        MapError mapError;
        bool done = false;
    };

public:
    explicit AsyncStream(std::shared_ptr<detail::Channel<T>> channel, Check check = {}, MapError mapError = {})
        : state_(std::make_shared<State>(std::move(channel), std::move(check), std::move(mapError)))
    {
    }

    static AsyncStream failed(ErrorPtr error)
    {
        auto channel = std::make_shared<detail::Channel<T>>();
        channel->finish(std::move(error));
        return AsyncStream(std::move(channel));
    }

    class Next {
    public:
        explicit Next(std::shared_ptr<typename AsyncStream::State> state)
            : state_(std::move(state))
        {
        }
        Next(Next&& other) noexcept
            : state_(std::move(other.state_))
            , waiting_(std::exchange(other.waiting_, {}))
        {
        }
        Next(const Next&) = delete;
        Next& operator=(const Next&) = delete;
        Next& operator=(Next&&) = delete;
        // A consumer destroyed while it waits must not be resumed later.
        ~Next()
        {
            if (waiting_)
                state_->channel->clearWaiter(waiting_);
        }

        bool await_ready() const { return state_->done || state_->channel->isReady(); }
        void await_suspend(std::coroutine_handle<> waiter)
        {
            waiting_ = waiter;
            state_->channel->setWaiter(waiter);
        }
        std::optional<T> await_resume()
        {
            waiting_ = {};
            return state_->pull();
        }

    private:
        std::shared_ptr<typename AsyncStream::State> state_;
        std::coroutine_handle<> waiting_;
    };

    Next next() const { return Next(state_); }

    // The same values, checked and with errors translated as they are pulled.
    // Meant for a stream that has no checks of its own.
    AsyncStream checked(Check check, MapError mapError) const
    {
        return AsyncStream(state_->channel, std::move(check), std::move(mapError));
    }

private:
    std::shared_ptr<State> state_;
};

} // namespace gemini
