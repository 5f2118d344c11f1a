#pragma once

#include <functional>
#include <optional>

namespace platform {

// Mouse-button presses anywhere on the desktop, whichever application's
// window is under the pointer. The floating panels use them to close when the
// user clicks elsewhere. Main thread only; handlers run on the main thread.
class GlobalMouseMonitor {
public:
    enum class Button { left, right };
    using Handler = std::function<void(Button button)>;

    virtual ~GlobalMouseMonitor() = default;

    // Starts delivering left and right presses to the handler and answers a
    // token for remove(), or nothing when the desktop offers no such events
    // (no X server, no XInput 2). Other buttons are not delivered.
    virtual std::optional<int> add(Handler handler) = 0;
    // Stops a handler; an unknown token is ignored.
    virtual void remove(int token) = 0;
};

} // namespace platform
