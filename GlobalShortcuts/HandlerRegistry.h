#pragma once

#include "GlobalShortcuts/EventStream.h"
#include "GlobalShortcuts/Name.h"
#include "GlobalShortcuts/Shortcut.h"

#include <QList>

#include <functional>
#include <memory>

namespace GlobalShortcuts {

// Actions run when the stored shortcut of their name is pressed or released.
// The match is by each name's stored shortcut at the moment of the press, so
// several names with one shortcut all run, and storing another shortcut for a
// name re-targets its actions at once. Main thread only.
void onKeyDown(const Name& name, std::function<void()> action);
void onKeyUp(const Name& name, std::function<void()> action);
void removeHandler(const Name& name);
void removeAllHandlers();

// The name's actions can fire now: the component is enabled, the name has a
// stored shortcut, and that shortcut's hot key was accepted by the system.
bool isEnabled(const Name& name);
void enable(const QList<Name>& names);
void disable(const QList<Name>& names);
template <class... More>
void enable(const Name& first, const More&... more)
{
    enable(QList<Name>{first, more...});
}
template <class... More>
void disable(const Name& first, const More&... more)
{
    disable(QList<Name>{first, more...});
}

// Key-down and key-up events of the name, buffered without bound until taken.
// The stream ends when it is cancelled or destroyed; its hot key is released
// then unless something else still listens to the shortcut.
std::unique_ptr<EventStream> events(const Name& name);
// The same, keeping only events of the one type.
std::unique_ptr<EventStream> events(EventType type, const Name& name);

// The component-wide switch: off releases every hot key until it is on again.
bool isEnabled();
void setEnabled(bool enabled);
// While paused no action runs and presses are not replayed later; a recorder
// pauses while it records.
bool isPaused();
void setPaused(bool paused);

namespace detail {
// Registers the shortcut's hot key unless it is registered already; answers
// whether it is registered afterwards. A refused registration is not
// remembered, so a later call tries again.
bool registerShortcut(const Shortcut& shortcut);
// Releases the hot key and forgets it.
void releaseShortcut(const Shortcut& shortcut);
// The hot key went away without being released (its re-registration failed).
void forgetRegistered(const Shortcut& shortcut);
bool isRegistered(const Shortcut& shortcut);
// Whether a name other than the given one still needs the shortcut: it is
// stored for that name.
bool isUsedByAnotherName(const Shortcut& shortcut, const Name& except);
} // namespace detail

} // namespace GlobalShortcuts
