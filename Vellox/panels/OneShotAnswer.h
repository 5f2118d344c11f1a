#pragma once

#include <QCoreApplication>
#include <QMetaObject>

#include <coroutine>
#include <memory>
#include <optional>
#include <utility>

// The answer of one question put to the user: a coroutine awaits it, and the
// panel that asked gives it once. The waiting coroutine is resumed through a
// queued call, never from inside the handler that answers, so the rewrite
// road does not run inside the panel's own key or mouse handling. Main
// thread only.
template <class T>
class OneShotAnswer {
    struct State {
        std::coroutine_handle<> waiter;
        std::optional<T> value;
        bool answered = false;
        bool delivered = false;
    };

public:
    OneShotAnswer()
        : state_(std::make_shared<State>())
    {
    }

    bool isAnswered() const { return state_->answered; }

    // Gives the answer; a second call is ignored and answers false.
    bool answer(T value)
    {
        if (state_->answered)
            return false;
        state_->answered = true;
        state_->value = std::move(value);
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [state = state_] {
                state->delivered = true;
                if (auto waiter = std::exchange(state->waiter, {}))
                    waiter.resume();
            },
            Qt::QueuedConnection);
        return true;
    }

    class Awaiter {
    public:
        explicit Awaiter(std::shared_ptr<State> state)
            : state_(std::move(state))
        {
        }
        Awaiter(const Awaiter&) = delete;
        Awaiter& operator=(const Awaiter&) = delete;
        // A coroutine destroyed while it waits leaves no handle behind for
        // the queued delivery to resume.
        ~Awaiter()
        {
            if (state_ && state_->waiter == handle_)
                state_->waiter = {};
        }

        bool await_ready() const noexcept { return state_->delivered; }
        void await_suspend(std::coroutine_handle<> handle) noexcept
        {
            handle_ = handle;
            state_->waiter = handle;
        }
        T await_resume() { return std::move(*state_->value); }

    private:
        std::shared_ptr<State> state_;
        std::coroutine_handle<> handle_;
    };

    Awaiter operator co_await() const { return Awaiter(state_); }

private:
    std::shared_ptr<State> state_;
};
