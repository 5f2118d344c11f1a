#pragma once

#include "GlobalShortcuts/Name.h"
#include "GlobalShortcuts/Shortcut.h"

#include <optional>

class QAction;

namespace GlobalShortcuts {

// Shows the shortcut as the menu item's key sequence (none clears it). Keeps
// no binding: a later change of a name the item is bound to overwrites it.
void setShortcut(QAction* item, const std::optional<Shortcut>& shortcut);

// Binds the menu item to a name: it shows the name's stored shortcut and
// follows every change of it, one turn of the event loop after the change.
// None unbinds the item and clears its key sequence. One name at a time.
void setShortcutFor(QAction* item, const std::optional<Name>& name);

} // namespace GlobalShortcuts
