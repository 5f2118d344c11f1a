#include "X11HotKeyBackend.h"

#include "platform/linux/X11KeyGrabs.h"

#include <QCoreApplication>

#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <vector>

namespace platform::linuxbackend {

namespace {

constexpr uint16_t kShortcutModifiers =
    XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1 | XCB_MOD_MASK_4;
// A press of a held key this long after the last one is no auto-repeat: its
// release went elsewhere. Auto-repeat follows far faster, even after the
// longest delay desktops offer before it starts.
constexpr xcb_timestamp_t kLongestRepeatGapMs = 2500;

bool isDown(const uint8_t* keys, xcb_keycode_t keycode)
{
    return (keys[keycode / 8] >> (keycode % 8)) & 1;
}

} // namespace

struct X11HotKeyBackend::State {
    struct Grab {
        std::vector<uint16_t> variants;
        std::set<quint32> ids;
    };

    Connection kind;
    xcb_connection_t* ownConnection = nullptr;
    xcb_connection_t* autoRepeatSetOn = nullptr;
    std::map<x11::GrabKey, Grab> grabs;
    std::map<quint32, x11::GrabKey> keysById;
    struct Held {
        quint32 id;
        xcb_timestamp_t lastPress;
    };
    // Key code of each held hot key and the id its press went to, so the
    // release goes there too, whatever modifiers were let go first.
    std::map<xcb_keycode_t, Held> held;
    Handler handler;
    bool filterInstalled = false;

    xcb_connection_t* connection()
    {
        if (kind == Connection::own)
            return ownConnection;
        // Fetched at every use: Qt's connection ends with the application.
        return x11::applicationConnection();
    }

    void deliver(quint32 id, Event event)
    {
        if (handler) {
            const Handler copy = handler;
            copy(id, event);
        }
    }

    // Events reach the backend through the application's event filter; the
    // application may appear after the backend was made.
    bool ensureFilter(X11HotKeyBackend* backend)
    {
        if (kind == Connection::own || filterInstalled)
            return true;
        QCoreApplication* app = QCoreApplication::instance();
        if (!app)
            return false;
        app->installNativeEventFilter(backend);
        filterInstalled = true;
        return true;
    }

    // Ends the presses of the held keys that match, so every press still
    // gets its release.
    template <class Predicate>
    void releaseHeld(Predicate matches)
    {
        std::vector<quint32> ended;
        for (auto it = held.begin(); it != held.end();) {
            if (matches(it->first)) {
                ended.push_back(it->second.id);
                it = held.erase(it);
            } else {
                ++it;
            }
        }
        for (quint32 id : ended)
            deliver(id, Event::released);
    }

    // Held keys whose release will never reach us (another client took the
    // keyboard meanwhile) would take the next press for auto-repeat.
    void forgetReleasedKeys(const uint8_t* keys)
    {
        releaseHeld([&](xcb_keycode_t keycode) { return !isDown(keys, keycode); });
    }
    void forgetReleasedKeys()
    {
        xcb_connection_t* c = connection();
        if (held.empty() || !c)
            return;
        xcb_query_keymap_reply_t* keymap = xcb_query_keymap_reply(c, xcb_query_keymap(c), nullptr);
        if (!keymap)
            return;
        forgetReleasedKeys(keymap->keys);
        free(keymap);
    }

    // After the keyboard mapping changed, Num Lock may sit on another
    // modifier: every grab is taken again with the variants of now.
    void regrabAll()
    {
        xcb_connection_t* c = connection();
        if (!c)
            return;
        const std::vector<uint16_t> variants = x11::lockVariants(c);
        for (auto& [key, grab] : grabs) {
            if (grab.variants == variants)
                continue;
            x11::ungrab(c, key, grab.variants);
            x11::grab(c, key, variants);
            grab.variants = variants;
        }
        // A grab taken again no longer holds the keyboard for a key still down.
        releaseHeld([](xcb_keycode_t) { return true; });
    }
};

X11HotKeyBackend::X11HotKeyBackend(Connection connection)
    : d(std::make_unique<State>())
{
    d->kind = connection;
    if (connection == Connection::own) {
        d->ownConnection = x11::openConnection();
    } else {
        d->ensureFilter(this);
    }
}

X11HotKeyBackend::~X11HotKeyBackend()
{
    if (xcb_connection_t* connection = d->connection()) {
        for (const auto& [key, grab] : d->grabs)
            x11::ungrab(connection, key, grab.variants);
    }
    if (d->ownConnection)
        xcb_disconnect(d->ownConnection);
}

int X11HotKeyBackend::registerHotKey(quint32 id, qint64 keyCode, qint64 carbonModifiers)
{
    const x11::GrabKeyResult target = x11::grabKeyFor(keyCode, carbonModifiers);
    if (!target.key)
        return target.status;
    xcb_connection_t* connection = d->connection();
    if (!connection || !d->ensureFilter(this))
        return statusUnavailable;
    if (d->autoRepeatSetOn != connection && x11::enableDetectableAutoRepeat(connection))
        d->autoRepeatSetOn = connection;

    unregisterHotKey(id);
    auto existing = d->grabs.find(*target.key);
    if (existing != d->grabs.end()) {
        // The server keeps one grab per key and client; a second id shares it.
        existing->second.ids.insert(id);
        d->keysById[id] = *target.key;
        return statusOk;
    }
    d->held.erase(target.key->keycode);
    State::Grab grab{x11::lockVariants(connection), {id}};
    const int status = x11::grab(connection, *target.key, grab.variants);
    if (status != statusOk)
        return status;
    d->grabs.emplace(*target.key, std::move(grab));
    d->keysById[id] = *target.key;
    return statusOk;
}

void X11HotKeyBackend::unregisterHotKey(quint32 id)
{
    const auto byId = d->keysById.find(id);
    if (byId == d->keysById.end())
        return;
    const x11::GrabKey key = byId->second;
    d->keysById.erase(byId);
    const auto grab = d->grabs.find(key);
    if (grab == d->grabs.end())
        return;
    grab->second.ids.erase(id);
    if (!grab->second.ids.empty())
        return;
    if (xcb_connection_t* connection = d->connection())
        x11::ungrab(connection, key, grab->second.variants);
    d->grabs.erase(grab);
    // Its release would not come to us any more.
    d->held.erase(key.keycode);
}

void X11HotKeyBackend::setHandler(Handler handler)
{
    d->handler = std::move(handler);
}

bool X11HotKeyBackend::holds(qint64 keyCode, qint64 carbonModifiers) const
{
    const x11::GrabKeyResult target = x11::grabKeyFor(keyCode, carbonModifiers);
    return target.key && d->grabs.count(*target.key) != 0;
}

bool X11HotKeyBackend::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*)
{
    if (d->kind != Connection::application || eventType != "xcb_generic_event_t")
        return false;
    const auto* generic = static_cast<const xcb_generic_event_t*>(message);
    const uint8_t type = generic->response_type & 0x7f;
    switch (type) {
    case XCB_KEY_PRESS:
    case XCB_KEY_RELEASE:
        break;
    case XCB_KEYMAP_NOTIFY: {
        // The event leaves out the first byte of the key vector (key codes 0 to 7).
        uint8_t keys[32] = {};
        std::memcpy(keys + 1, reinterpret_cast<const xcb_keymap_notify_event_t*>(generic)->keys, 31);
        d->forgetReleasedKeys(keys);
        return false;
    }
    case XCB_FOCUS_IN: {
        // A keyboard grab of someone else just ended.
        const auto* focus = reinterpret_cast<const xcb_focus_in_event_t*>(generic);
        if (focus->mode == XCB_NOTIFY_MODE_UNGRAB)
            d->forgetReleasedKeys();
        return false;
    }
    default:
        if (xcb_connection_t* connection = d->connection(); connection && x11::isKeyboardMappingChange(connection, generic))
            d->regrabAll();
        return false;
    }
    const auto* event = reinterpret_cast<const xcb_key_press_event_t*>(generic);

    if (type == XCB_KEY_PRESS) {
        // Our grabs report to the root; key events for our own windows do not.
        if (event->event != event->root)
            return false;
        if (const auto held = d->held.find(event->detail); held != d->held.end()) {
            if (xcb_timestamp_t(event->time - held->second.lastPress) <= kLongestRepeatGapMs) {
                held->second.lastPress = event->time;
                return true; // auto-repeat of a held hot key
            }
            // Its release went elsewhere: end that press before this one.
            const quint32 id = held->second.id;
            d->held.erase(held);
            d->deliver(id, Event::released);
        }
        const auto grab = d->grabs.find({event->detail, uint16_t(event->state & kShortcutModifiers)});
        if (grab == d->grabs.end() || grab->second.ids.empty())
            return false;
        const quint32 id = *grab->second.ids.begin();
        d->held[event->detail] = {id, event->time};
        d->deliver(id, Event::pressed);
        return true;
    }

    // The release of a held hot key ends its press wherever it goes: a popup
    // that one of our actions opened may hold the keyboard by now.
    const auto held = d->held.find(event->detail);
    if (held == d->held.end())
        return false;
    const quint32 id = held->second.id;
    d->held.erase(held);
    d->deliver(id, Event::released);
    return true;
}

} // namespace platform::linuxbackend
