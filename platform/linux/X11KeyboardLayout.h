#pragma once

#include "platform/KeyboardLayout.h"

namespace platform::linuxbackend {

// The keymap of the X server's core keyboard and its active group, read through
// xkbcommon-x11 at every call. Without an X11 display (Wayland, offscreen) the
// XKB default layout stands in.
class X11KeyboardLayout final : public KeyboardLayout {
public:
    std::optional<QString> textForKey(qint64 virtualKeyCode) const override;
};

} // namespace platform::linuxbackend
