#pragma once

namespace platform {

// Whether the desktop blends translucent windows with what is behind them.
// Without a compositing manager an X11 window's transparent pixels show as
// black, so windows that draw their own rounded, shadowed shapes fall back
// to opaque ones. Answers true where compositing is always on (Wayland) and
// for the offscreen platform. Main thread only.
bool desktopComposites();

} // namespace platform
