#pragma once

#include <QtGlobal>

#include <optional>

namespace platform {

// Stored shortcuts keep the virtual key codes of the platform they were first
// designed on, so a shortcut names a physical key and means the same key on
// every layout. This is the one table between those codes and Linux evdev key
// codes; X11 and XKB key codes are the evdev code plus 8.
namespace physical_keys {

constexpr int xkbKeycodeOffset = 8;

std::optional<int> evdevCodeForVirtualKey(qint64 virtualKeyCode);
std::optional<qint64> virtualKeyForEvdevCode(int evdevCode);

// The X11 / XKB key code of a virtual key, when the key has one (X key codes
// stop at 255).
std::optional<quint8> xKeycodeForVirtualKey(qint64 virtualKeyCode);

// Qt's xcb and wayland plugins report XKB key codes as a key event's native
// scan code; other platforms report codes that do not map (offscreen gives 0).
std::optional<qint64> virtualKeyForNativeScanCode(quint32 nativeScanCode);

} // namespace physical_keys
} // namespace platform
