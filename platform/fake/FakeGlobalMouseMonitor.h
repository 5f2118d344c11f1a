#pragma once

#include "platform/GlobalMouseMonitor.h"

#include <map>

namespace platform::fake {

// Delivers presses when a test asks, and can refuse new handlers.
class FakeGlobalMouseMonitor final : public GlobalMouseMonitor {
public:
    std::optional<int> add(Handler handler) override
    {
        if (refusing_)
            return std::nullopt;
        handlers_[++lastToken_] = std::move(handler);
        return lastToken_;
    }
    void remove(int token) override { handlers_.erase(token); }

    // Calls every handler present when the press starts.
    void press(Button button = Button::left)
    {
        auto handlers = handlers_;
        for (auto& [token, handler] : handlers)
            handler(button);
    }
    int handlerCount() const { return int(handlers_.size()); }
    void setRefusing(bool refusing) { refusing_ = refusing; }

private:
    std::map<int, Handler> handlers_;
    int lastToken_ = 0;
    bool refusing_ = false;
};

} // namespace platform::fake
