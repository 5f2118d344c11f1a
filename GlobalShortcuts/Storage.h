#pragma once

#include "GlobalShortcuts/Name.h"
#include "GlobalShortcuts/Shortcut.h"

#include <QList>
#include <QSet>
#include <QString>

#include <optional>

namespace GlobalShortcuts {

// Posted on the platform's notification bus whenever a name's stored shortcut
// is stored or removed; user info {"name": Name}.
inline const QString shortcutByNameDidChange = QStringLiteral("GlobalShortcuts_shortcutByNameDidChange");
// Posted when a recorder starts or stops recording; user info {"isActive": bool}.
inline const QString recorderActiveStatusDidChange = QStringLiteral("GlobalShortcuts_recorderActiveStatusDidChange");

// Every name is stored in the user defaults under this prefix and its raw value,
// as the JSON text of its shortcut, or as false once the shortcut of a name
// with a default was removed (so the default does not come back).
inline const QString userDefaultsKeyPrefix = QStringLiteral("GlobalShortcuts_");

QString userDefaultsKey(const Name& name);

// The stored shortcut; none when nothing usable is stored. Never the default.
std::optional<Shortcut> getShortcut(const Name& name);
// Stores the shortcut and registers it system-wide, or removes the stored one.
void setShortcut(const std::optional<Shortcut>& shortcut, const Name& name);

// Each name back to its default, or to nothing when it has none.
void reset(const QList<Name>& names);
template <class... More>
void reset(const Name& first, const More&... more)
{
    reset(QList<Name>{first, more...});
}
// Resets every stored name. Names read from the store carry no default, so
// every stored shortcut is removed; removal markers stay.
void resetAll();

// The names of every stored entry, without defaults.
QSet<Name> allNames();

namespace detail {
// The one writer of a stored shortcut: releases the name's old hot key unless
// another name still uses it, registers the new one, stores and announces it.
void userDefaultsSet(const Name& name, const Shortcut& shortcut);
} // namespace detail

} // namespace GlobalShortcuts
