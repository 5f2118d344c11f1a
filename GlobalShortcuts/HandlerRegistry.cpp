#include "HandlerRegistry.h"

#include "GlobalShortcuts/CarbonHotKeys.h"
#include "GlobalShortcuts/MenuTracking.h"
#include "GlobalShortcuts/RegistryInternals.h"
#include "GlobalShortcuts/Storage.h"

#include <QSet>

#include <utility>
#include <vector>

namespace GlobalShortcuts {

namespace {

using Action = std::function<void()>;

// Tables keep their names in the order they were first added, so actions of
// several names run in a stable order.
template <class Value>
class NameTable {
public:
    Value& operator[](const Name& name)
    {
        for (auto& [key, value] : entries_) {
            if (key == name)
                return value;
        }
        entries_.emplace_back(name, Value{});
        return entries_.back().second;
    }
    Value* find(const Name& name)
    {
        for (auto& [key, value] : entries_) {
            if (key == name)
                return &value;
        }
        return nullptr;
    }
    void remove(const Name& name)
    {
        std::erase_if(entries_, [&](const auto& entry) { return entry.first == name; });
    }
    void clear() { entries_.clear(); }
    auto begin() const { return entries_.begin(); }
    auto end() const { return entries_.end(); }

private:
    std::vector<std::pair<Name, Value>> entries_;
};

using StreamActions = std::vector<std::pair<QUuid, Action>>;

struct HandlerState {
    bool isEnabled = true;
    bool isPaused = false;
    QSet<Shortcut> registeredShortcuts;
    NameTable<std::vector<Action>> legacyKeyDownHandlers;
    NameTable<std::vector<Action>> legacyKeyUpHandlers;
    NameTable<StreamActions> streamKeyDownHandlers;
    NameTable<StreamActions> streamKeyUpHandlers;
};

HandlerState& handlerState()
{
    static HandlerState instance;
    return instance;
}

template <class Value>
void collectShortcuts(const NameTable<Value>& table, QSet<Shortcut>& into)
{
    for (const auto& [name, value] : table) {
        if (const auto shortcut = getShortcut(name))
            into.insert(*shortcut);
    }
}

QSet<Shortcut> shortcutsForLegacyHandlers()
{
    QSet<Shortcut> out;
    collectShortcuts(handlerState().legacyKeyDownHandlers, out);
    collectShortcuts(handlerState().legacyKeyUpHandlers, out);
    return out;
}

QSet<Shortcut> shortcutsForStreamHandlers()
{
    QSet<Shortcut> out;
    collectShortcuts(handlerState().streamKeyDownHandlers, out);
    collectShortcuts(handlerState().streamKeyUpHandlers, out);
    return out;
}

// Whether a name other than the given one has actions of any kind for the
// shortcut.
bool isHandledByAnotherName(const Shortcut& shortcut, const Name& except)
{
    const auto handles = [&](const auto& table) {
        for (const auto& [name, value] : table) {
            if (!(name == except) && getShortcut(name) == shortcut)
                return true;
        }
        return false;
    };
    const HandlerState& s = handlerState();
    return handles(s.legacyKeyDownHandlers) || handles(s.legacyKeyUpHandlers) || handles(s.streamKeyDownHandlers)
        || handles(s.streamKeyUpHandlers);
}

void dispatch(const Shortcut& shortcut, NameTable<std::vector<Action>> HandlerState::*legacy,
              NameTable<StreamActions> HandlerState::*streams)
{
    if (handlerState().isPaused)
        return;
    // Each table as it stood when its step began: actions may add or remove
    // actions, which counts from the next press on.
    const NameTable<std::vector<Action>> legacyTable = handlerState().*legacy;
    for (const auto& [name, actions] : legacyTable) {
        if (getShortcut(name) == shortcut) {
            for (const Action& action : actions)
                action();
        }
    }
    const NameTable<StreamActions> streamTable = handlerState().*streams;
    for (const auto& [name, actions] : streamTable) {
        if (getShortcut(name) == shortcut) {
            for (const auto& [id, action] : actions)
                action();
        }
    }
}

void addLegacyHandler(NameTable<std::vector<Action>>& table, const Name& name, Action action)
{
    table[name].push_back(std::move(action));
    if (const auto shortcut = getShortcut(name))
        detail::registerShortcut(*shortcut);
}

void removeStreamAction(NameTable<StreamActions>& table, const Name& name, const QUuid& id)
{
    StreamActions* actions = table.find(name);
    if (!actions)
        return;
    std::erase_if(*actions, [&](const auto& entry) { return entry.first == id; });
    if (actions->empty())
        table.remove(name);
}

} // namespace

void onKeyDown(const Name& name, std::function<void()> action)
{
    addLegacyHandler(handlerState().legacyKeyDownHandlers, name, std::move(action));
}

void onKeyUp(const Name& name, std::function<void()> action)
{
    addLegacyHandler(handlerState().legacyKeyUpHandlers, name, std::move(action));
}

void removeHandler(const Name& name)
{
    HandlerState& s = handlerState();
    s.legacyKeyDownHandlers.remove(name);
    s.legacyKeyUpHandlers.remove(name);
    // Streams of any name, this one's included, and other names' actions on
    // the same shortcut keep its hot key alive.
    const auto shortcut = getShortcut(name);
    if (shortcut && !shortcutsForStreamHandlers().contains(*shortcut) && !isHandledByAnotherName(*shortcut, name))
        detail::releaseShortcut(*shortcut);
}

void removeAllHandlers()
{
    const QSet<Shortcut> streams = shortcutsForStreamHandlers();
    for (const Shortcut& shortcut : shortcutsForLegacyHandlers()) {
        if (!streams.contains(shortcut))
            detail::releaseShortcut(shortcut);
    }
    handlerState().legacyKeyDownHandlers.clear();
    handlerState().legacyKeyUpHandlers.clear();
}

bool isEnabled(const Name& name)
{
    if (!handlerState().isEnabled)
        return false;
    const auto shortcut = getShortcut(name);
    return shortcut && handlerState().registeredShortcuts.contains(*shortcut);
}

void enable(const QList<Name>& names)
{
    for (const Name& name : names) {
        if (const auto shortcut = getShortcut(name))
            detail::registerShortcut(*shortcut);
    }
}

void disable(const QList<Name>& names)
{
    for (const Name& name : names) {
        if (const auto shortcut = getShortcut(name))
            detail::releaseShortcut(*shortcut);
    }
}

std::unique_ptr<EventStream> events(const Name& name)
{
    return makeEventStream(name, std::nullopt);
}

std::unique_ptr<EventStream> events(EventType type, const Name& name)
{
    return makeEventStream(name, type);
}

bool isEnabled()
{
    return handlerState().isEnabled;
}

void setEnabled(bool enabled)
{
    if (std::exchange(handlerState().isEnabled, enabled) != enabled)
        CarbonHotKeys::updateEventHandler();
}

bool isPaused()
{
    return handlerState().isPaused;
}

void setPaused(bool paused)
{
    handlerState().isPaused = paused;
}

namespace detail {

bool registerShortcut(const Shortcut& shortcut)
{
    // A name declared before the application object existed could not start
    // following menus yet; the first hot key is the next chance.
    initialize();
    QSet<Shortcut>& registered = handlerState().registeredShortcuts;
    if (registered.contains(shortcut))
        return true;
    if (!CarbonHotKeys::registerHotKey(shortcut, &handleOnKeyDown, &handleOnKeyUp))
        return false;
    registered.insert(shortcut);
    return true;
}

void releaseShortcut(const Shortcut& shortcut)
{
    CarbonHotKeys::unregisterHotKey(shortcut);
    handlerState().registeredShortcuts.remove(shortcut);
}

void forgetRegistered(const Shortcut& shortcut)
{
    handlerState().registeredShortcuts.remove(shortcut);
}

bool isRegistered(const Shortcut& shortcut)
{
    return handlerState().registeredShortcuts.contains(shortcut);
}

bool isUsedByAnotherName(const Shortcut& shortcut, const Name& except)
{
    for (const Name& name : allNames()) {
        if (!(name == except) && getShortcut(name) == shortcut)
            return true;
    }
    return false;
}

void addStreamHandlers(const Name& name, const QUuid& id, std::function<void()> onDown, std::function<void()> onUp)
{
    HandlerState& s = handlerState();
    s.streamKeyDownHandlers[name].emplace_back(id, std::move(onDown));
    s.streamKeyUpHandlers[name].emplace_back(id, std::move(onUp));
    if (const auto shortcut = getShortcut(name))
        registerShortcut(*shortcut);
}

void removeStreamHandlers(const Name& name, const QUuid& id)
{
    HandlerState& s = handlerState();
    removeStreamAction(s.streamKeyDownHandlers, name, id);
    removeStreamAction(s.streamKeyUpHandlers, name, id);
    if (const auto shortcut = getShortcut(name);
        shortcut && !shortcutsForLegacyHandlers().contains(*shortcut) && !shortcutsForStreamHandlers().contains(*shortcut))
        releaseShortcut(*shortcut);
}

void handleOnKeyDown(const Shortcut& shortcut)
{
    dispatch(shortcut, &HandlerState::legacyKeyDownHandlers, &HandlerState::streamKeyDownHandlers);
}

void handleOnKeyUp(const Shortcut& shortcut)
{
    dispatch(shortcut, &HandlerState::legacyKeyUpHandlers, &HandlerState::streamKeyUpHandlers);
}

void resetRegistryState()
{
    handlerState() = HandlerState{};
}

} // namespace detail

} // namespace GlobalShortcuts
