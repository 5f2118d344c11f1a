#pragma once

#include "GlobalShortcuts/EventStream.h"
#include "GlobalShortcuts/Name.h"

#include <functional>

class QAbstractButton;
class QAction;
class QObject;

namespace GlobalShortcuts {

// Runs perform on every key-down and key-up of the name for as long as the
// view lives; the subscription ends with it. The answer is the stream, owned
// by the view (delete it to stop earlier).
EventStream* onKeyboardShortcut(QObject* view, const Name& name, std::function<void(EventType)> perform);
// Only the events of one type.
EventStream* onKeyboardShortcut(QObject* view, const Name& name, EventType type, std::function<void()> perform);
// The same two under a second name.
EventStream* onGlobalKeyboardShortcut(QObject* view, const Name& name, std::function<void(EventType)> perform);
EventStream* onGlobalKeyboardShortcut(QObject* view, const Name& name, EventType type,
                                      std::function<void()> perform);

// Gives the action or button the name's stored shortcut as its own local
// shortcut and keeps it current; while any recorder records it has none, so
// the keys being recorded do not trigger it.
void globalKeyboardShortcut(QAction* action, const Name& name);
void globalKeyboardShortcut(QAbstractButton* button, const Name& name);

} // namespace GlobalShortcuts
