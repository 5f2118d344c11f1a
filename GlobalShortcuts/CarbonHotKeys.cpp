#include "CarbonHotKeys.h"

#include "GlobalShortcuts/HandlerRegistry.h"
#include "GlobalShortcuts/Key.h"
#include "GlobalShortcuts/LocalEventMonitor.h"
#include "GlobalShortcuts/MenuTracking.h"

#include "platform/HotKeyBackend.h"
#include "platform/Logger.h"
#include "platform/PhysicalKeys.h"
#include "platform/Platform.h"
#include "platform/SystemShortcuts.h"

#include <QKeyEvent>

#include <map>
#include <memory>

namespace GlobalShortcuts::CarbonHotKeys {

namespace {

using platform::HotKeyBackend;

constexpr quint64 kLargestId = 0xFFFFFFFFULL;

// Every key of the key table, for the full list of taken shortcuts.
constexpr qint64 kKeyCodes[] = {
    0,   1,   2,   3,   4,   5,   6,   7,   8,   9,   11,  12,  13,  14,  15,  16,  17,  18,  19,  20,
    21,  22,  23,  24,  25,  26,  27,  28,  29,  30,  31,  32,  33,  34,  35,  36,  37,  38,  39,  40,
    41,  42,  43,  44,  45,  46,  47,  48,  49,  50,  51,  53,  54,  55,  56,  57,  58,  59,  60,  61,
    62,  64,  65,  67,  69,  71,  72,  73,  74,  75,  76,  78,  79,  80,  81,  82,  83,  84,  85,  86,
    87,  88,  89,  90,  91,  92,  96,  97,  98,  99,  100, 101, 103, 105, 106, 107, 109, 111, 113, 114,
    115, 116, 117, 118, 119, 120, 121, 122, 123, 124, 125, 126,
};

struct HotKey {
    Shortcut shortcut;
    quint32 id;
    bool live;
    Callback onKeyDown;
    Callback onKeyUp;
};

struct HotKeyState {
    std::map<quint32, HotKey> hotKeys;
    quint64 hotKeyId = 0;
    bool handlerInstalled = false;
    bool hotKeyEventsActive = false;
    std::unique_ptr<LocalEventMonitor> keyEventMonitor;
    // Key code of each key pressed while a menu was open, and the id its press
    // went to, so its release goes there whatever was let go first.
    std::map<qint64, quint32> heldKeys;
};

HotKeyState& hotKeyState()
{
    static HotKeyState instance;
    return instance;
}

HotKeyBackend* backend()
{
    return platform::Platform::current().hotKeys.get();
}

const platform::Logger& log()
{
    static const platform::Logger logger(QStringLiteral("app.vellox.desktop"), QStringLiteral("GlobalShortcuts"));
    return logger;
}

// The last refusal logged for each shortcut: without an X11 display every
// attempt fails the same way, and one line says it.
std::map<std::pair<qint64, qint64>, int>& reportedRefusals()
{
    static std::map<std::pair<qint64, qint64>, int> reported;
    return reported;
}

void reportRefusal(const Shortcut& shortcut, int status)
{
    const std::pair key{shortcut.carbonKeyCode(), shortcut.carbonModifiers()};
    const auto [it, added] = reportedRefusals().try_emplace(key, status);
    if (!added && it->second == status)
        return;
    it->second = status;
    QString line = QStringLiteral("Error registering hotkey %1: %2").arg(shortcut.presentableDescription()).arg(status);
    if (status == HotKeyBackend::statusUnavailable)
        line += QStringLiteral(" (global shortcuts need an X11 session)");
    log().error(line);
}

void reportAccepted(const Shortcut& shortcut)
{
    reportedRefusals().erase({shortcut.carbonKeyCode(), shortcut.carbonModifiers()});
}

int registerWithPlatform(const Shortcut& shortcut, quint32 id)
{
    HotKeyBackend* hotKeys = backend();
    if (!hotKeys)
        return HotKeyBackend::statusUnavailable;
    return hotKeys->registerHotKey(id, shortcut.carbonKeyCode(), shortcut.carbonModifiers());
}

void unregisterWithPlatform(quint32 id)
{
    if (HotKeyBackend* hotKeys = backend())
        hotKeys->unregisterHotKey(id);
}

void handleHotKeyEvent(quint32 id, HotKeyBackend::Event event)
{
    HotKeyState& s = hotKeyState();
    if (!s.hotKeyEventsActive)
        return;
    const auto found = s.hotKeys.find(id);
    if (found == s.hotKeys.end())
        return;
    // The callbacks may change the table; call copies.
    const Shortcut shortcut = found->second.shortcut;
    const Callback callback =
        event == HotKeyBackend::Event::pressed ? found->second.onKeyDown : found->second.onKeyUp;
    callback(shortcut);
}

const HotKey* entryMatching(qint64 keyCode, qint64 modifiers)
{
    for (const auto& [id, hotKey] : hotKeyState().hotKeys) {
        if (hotKey.shortcut.carbonKeyCode() == keyCode && hotKey.shortcut.carbonModifiers() == modifiers)
            return &hotKey;
    }
    return nullptr;
}

// While a menu holds the keyboard, the hot keys are released and shortcut
// presses reach the menu as ordinary key events; this takes them from there.
bool handleRawKeyEvent(QObject*, QEvent* event)
{
    HotKeyState& s = hotKeyState();
    auto* keyEvent = static_cast<QKeyEvent*>(event);
    const auto keyCode = platform::physical_keys::virtualKeyForNativeScanCode(keyEvent->nativeScanCode());
    if (!keyCode)
        return false;
    const qint64 modifiers = normalizedCarbon(carbon(modifierFlagsFromQt(keyEvent->modifiers())));
    const auto held = s.heldKeys.find(*keyCode);

    switch (event->type()) {
    case QEvent::ShortcutOverride:
        // Accepting keeps Qt's own shortcuts from taking the press first.
        if (held != s.heldKeys.end() || entryMatching(*keyCode, modifiers)) {
            event->accept();
            return true;
        }
        return false;
    case QEvent::KeyPress: {
        // Qt does not flag these repeats: with detectable auto-repeat there
        // is no release between them. The menu holds the keyboard, so the
        // release of the key always comes here before its next press.
        if (held != s.heldKeys.end())
            return true;
        const HotKey* entry = entryMatching(*keyCode, modifiers);
        if (!entry)
            return false;
        s.heldKeys[*keyCode] = entry->id;
        const Shortcut shortcut = entry->shortcut;
        const Callback callback = entry->onKeyDown;
        callback(shortcut);
        return true;
    }
    case QEvent::KeyRelease: {
        const HotKey* entry = nullptr;
        if (held != s.heldKeys.end()) {
            if (keyEvent->isAutoRepeat())
                return true;
            const quint32 id = held->second;
            s.heldKeys.erase(held);
            const auto found = s.hotKeys.find(id);
            if (found == s.hotKeys.end())
                return true;
            entry = &found->second;
        } else {
            entry = entryMatching(*keyCode, modifiers);
        }
        if (!entry)
            return false;
        const Shortcut shortcut = entry->shortcut;
        const Callback callback = entry->onKeyUp;
        callback(shortcut);
        return true;
    }
    default:
        return false;
    }
}

LocalEventMonitor& keyEventMonitor()
{
    HotKeyState& s = hotKeyState();
    if (!s.keyEventMonitor) {
        s.keyEventMonitor = std::make_unique<LocalEventMonitor>(
            QSet<QEvent::Type>{QEvent::KeyPress, QEvent::KeyRelease, QEvent::ShortcutOverride}, &handleRawKeyEvent);
    }
    return *s.keyEventMonitor;
}

void softUnregisterAll()
{
    for (auto& [id, hotKey] : hotKeyState().hotKeys) {
        unregisterWithPlatform(id);
        hotKey.live = false;
    }
}

void softRegisterAll()
{
    HotKeyState& s = hotKeyState();
    std::vector<quint32> ids;
    for (const auto& [id, hotKey] : s.hotKeys) {
        if (!hotKey.live)
            ids.push_back(id);
    }
    for (quint32 id : ids) {
        const auto found = s.hotKeys.find(id);
        if (found == s.hotKeys.end())
            continue;
        const Shortcut shortcut = found->second.shortcut;
        const int status = registerWithPlatform(shortcut, id);
        if (status == HotKeyBackend::statusOk) {
            found->second.live = true;
            reportAccepted(shortcut);
            continue;
        }
        reportRefusal(shortcut, status);
        s.hotKeys.erase(found);
        // Nothing hears the shortcut any more; let a later registration retry.
        bool stillHeld = false;
        for (const auto& [otherId, other] : s.hotKeys)
            stillHeld = stillHeld || other.shortcut == shortcut;
        if (!stillHeld)
            GlobalShortcuts::detail::forgetRegistered(shortcut);
    }
}

void stopKeyEventMonitor()
{
    if (hotKeyState().keyEventMonitor)
        hotKeyState().keyEventMonitor->stop();
    hotKeyState().heldKeys.clear();
}

} // namespace

bool registerHotKey(const Shortcut& shortcut, Callback onKeyDown, Callback onKeyUp)
{
    HotKeyState& s = hotKeyState();
    ++s.hotKeyId;
    const int status = s.hotKeyId > kLargestId ? HotKeyBackend::statusUnsupported
                                               : registerWithPlatform(shortcut, quint32(s.hotKeyId));
    if (status != HotKeyBackend::statusOk) {
        reportRefusal(shortcut, status);
        return false;
    }
    reportAccepted(shortcut);
    const auto id = quint32(s.hotKeyId);
    s.hotKeys.insert_or_assign(id, HotKey{shortcut, id, true, std::move(onKeyDown), std::move(onKeyUp)});
    if (!s.handlerInstalled) {
        backend()->setHandler(&handleHotKeyEvent);
        s.handlerInstalled = true;
        updateEventHandler();
    }
    return true;
}

void unregisterHotKey(const Shortcut& shortcut)
{
    HotKeyState& s = hotKeyState();
    std::vector<quint32> ids;
    for (const auto& [id, hotKey] : s.hotKeys) {
        if (hotKey.shortcut == shortcut)
            ids.push_back(id);
    }
    for (quint32 id : ids) {
        unregisterWithPlatform(id);
        s.hotKeys.erase(id);
    }
}

void updateEventHandler()
{
    HotKeyState& s = hotKeyState();
    if (!s.handlerInstalled)
        return;
    if (isEnabled() && !isMenuOpen()) {
        softRegisterAll();
        stopKeyEventMonitor();
        s.hotKeyEventsActive = true;
    } else if (isEnabled()) {
        softUnregisterAll();
        s.hotKeyEventsActive = false;
        keyEventMonitor().start();
    } else {
        softUnregisterAll();
        s.hotKeyEventsActive = false;
        stopKeyEventMonitor();
    }
}

QList<Shortcut> system(const QList<Shortcut>& candidates)
{
    const auto& reserved = platform::Platform::current().systemShortcuts;
    if (!reserved)
        return {};
    QList<platform::SystemShortcuts::Combination> asked;
    for (const Shortcut& candidate : candidates)
        asked.append({candidate.carbonKeyCode(), candidate.carbonModifiers()});
    QList<Shortcut> out;
    for (const auto& taken : reserved->reserved(asked))
        out.append(Shortcut(taken.keyCode, taken.carbonModifiers));
    return out;
}

QList<Shortcut> system()
{
    constexpr qint64 modifierBits[] = {CarbonModifier::control, CarbonModifier::option, CarbonModifier::shift,
                                       CarbonModifier::command};
    QList<Shortcut> candidates;
    for (qint64 keyCode : kKeyCodes) {
        for (int combination = 0; combination < 16; ++combination) {
            qint64 modifiers = 0;
            for (int bit = 0; bit < 4; ++bit) {
                if (combination & (1 << bit))
                    modifiers |= modifierBits[bit];
            }
            candidates.append(Shortcut(keyCode, modifiers));
        }
    }
    return system(candidates);
}

namespace detail {

void resetState()
{
    HotKeyState& s = hotKeyState();
    s.hotKeys.clear();
    s.handlerInstalled = false;
    s.hotKeyEventsActive = false;
    stopKeyEventMonitor();
    reportedRefusals().clear();
}

QList<Entry> entries()
{
    QList<Entry> out;
    for (const auto& [id, hotKey] : hotKeyState().hotKeys)
        out.append({id, hotKey.shortcut, hotKey.live});
    return out;
}

} // namespace detail

} // namespace GlobalShortcuts::CarbonHotKeys
