#pragma once

#include <QHash>
#include <QMutex>
#include <QUuid>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace analytics {

// Keeps one subscription alive; releasing the last holder unsubscribes.
class RegistrationToken {
public:
    explicit RegistrationToken(std::function<void()> onDealloc)
        : onDealloc_(std::move(onDealloc))
    {
    }
    ~RegistrationToken()
    {
        if (onDealloc_)
            onDealloc_();
    }
    RegistrationToken(const RegistrationToken&) = delete;
    RegistrationToken& operator=(const RegistrationToken&) = delete;

private:
    std::function<void()> onDealloc_;
};

// A thread-safe list of subscribers to one kind of signal. Handlers run on
// the invoking thread, outside the lock, from a snapshot: a handler may
// subscribe or unsubscribe without changing the invocation in progress.
template <typename... Args>
class AnalyticsMulticastCallback {
public:
    using Handler = std::function<void(const Args&...)>;
    using CountChanged = std::function<void(int)>;

    explicit AnalyticsMulticastCallback(CountChanged onSubscriberCountChanged = {})
        : state_(std::make_shared<State>())
    {
        state_->onSubscriberCountChanged = std::move(onSubscriberCountChanged);
    }

    [[nodiscard]] std::shared_ptr<RegistrationToken> subscribe(Handler handler)
    {
        const QUuid id = QUuid::createUuid();
        int count = 0;
        {
            QMutexLocker lock(&state_->lock);
            state_->callbacks.insert(id, std::move(handler));
            count = static_cast<int>(state_->callbacks.size());
        }
        if (state_->onSubscriberCountChanged)
            state_->onSubscriberCountChanged(count);
        return std::make_shared<RegistrationToken>([weak = std::weak_ptr<State>(state_), id] {
            const auto state = weak.lock();
            if (!state)
                return;
            int remaining = 0;
            {
                QMutexLocker lock(&state->lock);
                state->callbacks.remove(id);
                remaining = static_cast<int>(state->callbacks.size());
            }
            if (state->onSubscriberCountChanged)
                state->onSubscriberCountChanged(remaining);
        });
    }

    void invoke(const Args&... args) const
    {
        std::vector<Handler> snapshot;
        {
            QMutexLocker lock(&state_->lock);
            snapshot.reserve(static_cast<size_t>(state_->callbacks.size()));
            for (const Handler& handler : std::as_const(state_->callbacks))
                snapshot.push_back(handler);
        }
        for (const Handler& handler : snapshot)
            if (handler)
                handler(args...);
    }

    int subscriberCount() const
    {
        QMutexLocker lock(&state_->lock);
        return static_cast<int>(state_->callbacks.size());
    }

private:
    struct State {
        QMutex lock;
        QHash<QUuid, Handler> callbacks;
        CountChanged onSubscriberCountChanged;
    };
    std::shared_ptr<State> state_;
};

} // namespace analytics
