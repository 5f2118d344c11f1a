#pragma once

#include <QtGlobal>

namespace platform {

// Asks the window manager to treat a native window as a floating panel: kept
// above other windows, shown on every virtual desktop, and left out of task
// bars and pagers. Call after the window exists and before it is first
// shown. Does nothing off X11.
void markAsFloatingPanel(quint64 nativeWindow);

// Gives a window the keyboard on the user's behalf: for one of our panels,
// opened by the user's shortcut, or for the window the user was in before
// it. It asks as the user's own tools do (a pager's request), which window
// managers grant even where they guard against focus stealing, and leaves
// the focus change to the window manager so its idea of the active window
// stays right; with no window manager it focuses directly. Answers false
// off X11, where nothing was asked.
bool activateForUser(quint64 nativeWindow);

} // namespace platform
