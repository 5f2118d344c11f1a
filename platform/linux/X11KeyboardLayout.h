#pragma once

#include "platform/KeyboardLayout.h"

#include <QAbstractNativeEventFilter>

#include <memory>

namespace platform::linuxbackend {

// The keymap of the X server's core keyboard and its active group, read
// through xkbcommon-x11. Compiling a keymap takes milliseconds, so it is kept
// and read again only when the server announces a new mapping; the group
// follows XKB's state events. Without an X11 display (Wayland, offscreen) the
// XKB default layout stands in.
class X11KeyboardLayout final : public KeyboardLayout, public QAbstractNativeEventFilter {
public:
    X11KeyboardLayout();
    ~X11KeyboardLayout() override;

    std::optional<QString> textForKey(qint64 virtualKeyCode) const override;

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

private:
    struct State;
    std::unique_ptr<State> d;
};

} // namespace platform::linuxbackend
