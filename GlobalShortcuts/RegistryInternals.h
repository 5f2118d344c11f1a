#pragma once

#include "GlobalShortcuts/Name.h"

#include <QUuid>

#include <functional>

// Between the handler registry and the code that feeds or resets it.
namespace GlobalShortcuts::detail {

void addStreamHandlers(const Name& name, const QUuid& id, std::function<void()> onDown,
                       std::function<void()> onUp);
void removeStreamHandlers(const Name& name, const QUuid& id);

void handleOnKeyDown(const Shortcut& shortcut);
void handleOnKeyUp(const Shortcut& shortcut);

void resetRegistryState();

} // namespace GlobalShortcuts::detail
