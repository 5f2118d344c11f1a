#pragma once

#include <QSet>
#include <QString>
#include <Qt>

#include <optional>

namespace GlobalShortcuts {

// The 53 keys that type no character of their own, and how each is shown.
enum class SpecialKey {
    return_, delete_, deleteForward, end, escape, help, home, space, tab, pageUp, pageDown,
    upArrow, rightArrow, downArrow, leftArrow,
    f1, f2, f3, f4, f5, f6, f7, f8, f9, f10, f11, f12, f13, f14, f15, f16, f17, f18, f19, f20,
    keypad0, keypad1, keypad2, keypad3, keypad4, keypad5, keypad6, keypad7, keypad8, keypad9,
    keypadClear, keypadDecimal, keypadDivide, keypadEnter, keypadEquals, keypadMinus, keypadMultiply,
    keypadPlus,
};

// The special key of a virtual key code; none for an ordinary key, whose text
// comes from the keyboard layout.
std::optional<SpecialKey> specialKeyFor(qint64 keyCode);

// The text shown to people (never empty).
QString presentableDescription(SpecialKey key);
// The key equivalent a menu item shows; none for the keypad keys.
std::optional<QString> menuItemKeyEquivalent(SpecialKey key);
// The Qt key for local shortcuts (QKeySequence); none for the keypad keys,
// which Qt cannot tell apart from the main block in a shortcut.
std::optional<Qt::Key> qtKey(SpecialKey key);

// F1 to F35: the keys a shortcut may use without Control, Option or Command.
const QSet<int>& functionKeys();

// A one-scalar string, or none for values beyond Unicode and for surrogates.
std::optional<QString> characterFromScalar(quint64 value);

// Each word's first letter in title case and the rest in lower case, so a
// layout's "t" shows as "T".
QString capitalized(const QString& text);

} // namespace GlobalShortcuts
