#include "X11HotKeyBackend.h"

#include "platform/linux/X11KeyGrabs.h"

#include <QCoreApplication>

#include <map>
#include <set>

namespace platform::linuxbackend {

namespace {

constexpr uint16_t kShortcutModifiers =
    XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1 | XCB_MOD_MASK_4;

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
    // Key code of each held hot key and the id its press went to, so the
    // release goes there too, whatever modifiers were let go first.
    std::map<xcb_keycode_t, quint32> held;
    Handler handler;

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
};

X11HotKeyBackend::X11HotKeyBackend(Connection connection)
    : d(std::make_unique<State>())
{
    d->kind = connection;
    if (connection == Connection::own) {
        d->ownConnection = xcb_connect(nullptr, nullptr);
        if (xcb_connection_has_error(d->ownConnection)) {
            xcb_disconnect(d->ownConnection);
            d->ownConnection = nullptr;
        }
    } else if (QCoreApplication::instance()) {
        QCoreApplication::instance()->installNativeEventFilter(this);
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
    if (!connection)
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
    if (type != XCB_KEY_PRESS && type != XCB_KEY_RELEASE)
        return false;
    const auto* event = reinterpret_cast<const xcb_key_press_event_t*>(generic);
    // Our grabs report to the root; key events for our own windows do not.
    if (event->event != event->root)
        return false;

    if (type == XCB_KEY_PRESS) {
        if (d->held.count(event->detail) != 0)
            return true; // auto-repeat of a held hot key
        const auto grab = d->grabs.find({event->detail, uint16_t(event->state & kShortcutModifiers)});
        if (grab == d->grabs.end() || grab->second.ids.empty())
            return false;
        const quint32 id = *grab->second.ids.begin();
        d->held[event->detail] = id;
        d->deliver(id, Event::pressed);
        return true;
    }

    const auto held = d->held.find(event->detail);
    if (held == d->held.end())
        return false;
    const quint32 id = held->second;
    d->held.erase(held);
    d->deliver(id, Event::released);
    return true;
}

} // namespace platform::linuxbackend
