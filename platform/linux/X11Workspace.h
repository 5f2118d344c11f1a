#pragma once

#include "platform/Workspace.h"

namespace platform::linuxbackend {

// The front application: the window that has the keyboard (EWMH's
// _NET_ACTIVE_WINDOW while a window manager keeps it, else the server's
// input focus), its _NET_WM_PID and WM_CLASS; activation by the
// _NET_ACTIVE_WINDOW client message.
class X11Workspace final : public Workspace {
public:
    std::optional<FrontApplication> frontmostApplication() const override;
    bool activate(const FrontApplication& application) override;
};

} // namespace platform::linuxbackend
