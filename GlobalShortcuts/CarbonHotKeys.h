#pragma once

#include "GlobalShortcuts/Shortcut.h"

#include <QList>

#include <functional>

// The hot keys handed to the platform, and the switch between two ways of
// hearing them: normally the platform's hot-key events; while one of our own
// menus is open (the menu holds the keyboard), the application's own key
// events, with every hot key released. Main thread only.
namespace GlobalShortcuts::CarbonHotKeys {

using Callback = std::function<void(const Shortcut&)>;

// Registers a hot key under the next id (ids count up from 1 and are never
// reused) and answers whether the platform accepted it. A refusal writes
// "Error registering hotkey <text>: <status>" to the log and keeps nothing.
bool registerHotKey(const Shortcut& shortcut, Callback onKeyDown, Callback onKeyUp);
// Removes every registration of the shortcut.
void unregisterHotKey(const Shortcut& shortcut);
// Applies the switch after the component was enabled or disabled or a menu
// opened or closed. Does nothing before the first accepted registration.
void updateEventHandler();

// The shortcuts the system or other programs have taken, among every key with
// every combination of control, option, shift and command.
QList<Shortcut> system();
// The same, asking only about the candidates.
QList<Shortcut> system(const QList<Shortcut>& candidates);

namespace detail {
void resetState();
// The registrations held now, by ascending id (for tests and diagnostics).
struct Entry {
    quint32 id;
    Shortcut shortcut;
    bool live;
};
QList<Entry> entries();
} // namespace detail

} // namespace GlobalShortcuts::CarbonHotKeys
