#pragma once

#include <QString>

namespace platform {

// How a window copies and pastes, judged by its WM_CLASS (class or instance
// name). A plain Control-C in a terminal interrupts the program running
// there, so terminals get Control-Shift-C/V where their default bindings
// have it; in the others (xterm, rxvt-unicode) that chord is no copy either
// and still reaches the program as ^C, so no chord is typed at all.
enum class ChordStyle { control, controlShift, none };

ChordStyle chordStyleForWindowClass(const QString& className, const QString& instanceName);

} // namespace platform
