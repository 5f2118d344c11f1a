#pragma once

#include <QString>

namespace platform {

// Whether a window's WM_CLASS (class or instance name) names a terminal
// emulator. Terminals copy and paste with Control-Shift-C/V: a plain
// Control-C there interrupts the running program.
bool isTerminalWindowClass(const QString& className, const QString& instanceName);

} // namespace platform
