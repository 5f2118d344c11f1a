#pragma once

#include <QtGlobal>

#include <optional>

class QKeyEvent;

// The keys the panels act on, by physical key: the virtual key codes that
// stored shortcuts use too, so a digit key picks its row on every layout,
// with Shift held as well, while keypad digits stay apart.
namespace PanelKeys {

inline constexpr qint64 returnKey = 36;
inline constexpr qint64 keypadEnter = 76;
inline constexpr qint64 escape = 53;
inline constexpr qint64 downArrow = 125;
inline constexpr qint64 upArrow = 126;

// The key's virtual key code from its native scan code. Where the platform
// gives no usable scan code, Return, Enter, Escape and the arrows are still
// recognised by their meaning; digits are not, since their meaning is the
// layout's and not the key's.
std::optional<qint64> virtualKeyOf(const QKeyEvent* event);

// The digit 1 to 9 of a key of the main keyboard's digit row; keypad digits
// and 0 have none.
std::optional<int> digitForKeyCode(quint16 keyCode);

} // namespace PanelKeys
