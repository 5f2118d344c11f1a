#pragma once

#include "platform/GlobalMouseMonitor.h"

#include <map>
#include <memory>

class QSocketNotifier;
struct xcb_connection_t;

namespace platform::linuxbackend {

// Raw button presses of XInput 2 on the root window. Raw events reach every
// client that asks for them, whichever window is under the pointer and
// whoever grabbed the pointer, which is what "a click anywhere" needs. The
// backend keeps a connection of its own, open only while a handler exists, so
// nothing is read from the server while no panel shows.
class X11GlobalMouseMonitor final : public GlobalMouseMonitor {
public:
    X11GlobalMouseMonitor();
    ~X11GlobalMouseMonitor() override;

    std::optional<int> add(Handler handler) override;
    void remove(int token) override;

private:
    bool open();
    void close();
    void drain();

    xcb_connection_t* connection_ = nullptr;
    std::unique_ptr<QSocketNotifier> notifier_;
    uint8_t xinputOpcode_ = 0;
    std::map<int, Handler> handlers_;
    int lastToken_ = 0;
};

} // namespace platform::linuxbackend
