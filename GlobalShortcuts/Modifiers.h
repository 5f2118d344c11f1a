#pragma once

#include "platform/HotKeyBackend.h"

#include <QString>
#include <Qt>

namespace GlobalShortcuts {

// Two sets of modifier bits meet here: the event modifier flags that key events
// report (the ModifierFlag values below) and the Carbon bits that stored
// shortcuts carry. Conversions map exactly the five modifiers both know and
// drop every other bit, so Caps Lock, left/right and device bits never survive.
using ModifierFlags = quint64;

namespace ModifierFlag {
constexpr ModifierFlags capsLock = 0x10000;
constexpr ModifierFlags shift = 0x20000;
constexpr ModifierFlags control = 0x40000;
constexpr ModifierFlags option = 0x80000;
constexpr ModifierFlags command = 0x100000;
constexpr ModifierFlags numericPad = 0x200000;
constexpr ModifierFlags help = 0x400000;
constexpr ModifierFlags function = 0x800000;
} // namespace ModifierFlag

namespace CarbonModifier = platform::CarbonModifier;

qint64 carbon(ModifierFlags flags);
ModifierFlags modifierFlagsFromCarbon(qint64 carbonModifiers);
// Carbon bits reduced to the five known ones.
qint64 normalizedCarbon(qint64 carbonModifiers);

// The glyphs of the modifiers, always in the order ⌃ ⌥ ⇧ ⌘ 🌐︎.
QString symbolicRepresentation(ModifierFlags flags);

// Qt's key event modifiers: Alt is option and Meta (Super) is command, the
// same keys the hot keys grab. Qt knows no function modifier.
ModifierFlags modifierFlagsFromQt(Qt::KeyboardModifiers modifiers);
// For Qt shortcuts (QKeySequence); Caps Lock and function have no Qt form.
Qt::KeyboardModifiers toQtModifiers(ModifierFlags flags);

} // namespace GlobalShortcuts
