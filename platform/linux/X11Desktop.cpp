#include "X11Desktop.h"

#include "platform/linux/X11KeyGrabs.h"

#include <QMutex>

#include <cstring>

#include <cstdlib>
#include <memory>

namespace platform::linuxbackend::x11 {

namespace {

// Parent walks stop here; real window trees are a few levels deep.
constexpr int kMaxAncestors = 32;

} // namespace

xcb_connection_t* displayConnection()
{
    if (xcb_connection_t* own = applicationConnection())
        return own;
    static QMutex mutex;
    static xcb_connection_t* connection = nullptr;
    static bool tried = false;
    QMutexLocker lock(&mutex);
    if (!tried) {
        tried = true;
        if (!qEnvironmentVariableIsEmpty("DISPLAY")) {
            connection = openConnection(); // kept for the life of the process
        }
    }
    return connection;
}

xcb_window_t rootWindow(xcb_connection_t* connection)
{
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    return screen ? screen->root : xcb_window_t(XCB_WINDOW_NONE);
}

xcb_atom_t atom(xcb_connection_t* connection, const char* name)
{
    auto cookie = xcb_intern_atom(connection, 0, uint16_t(strlen(name)), name);
    Reply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(connection, cookie, nullptr));
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

std::optional<QByteArray> property(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t name,
                                   xcb_atom_t type, uint32_t maxLongs)
{
    if (window == XCB_WINDOW_NONE || name == XCB_ATOM_NONE)
        return std::nullopt;
    auto cookie = xcb_get_property(connection, 0, window, name, type, 0, maxLongs);
    Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(connection, cookie, nullptr));
    if (!reply || reply->type == XCB_ATOM_NONE)
        return std::nullopt;
    const int length = xcb_get_property_value_length(reply.get());
    return QByteArray(static_cast<const char*>(xcb_get_property_value(reply.get())), length);
}

std::optional<uint32_t> cardinalProperty(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t name,
                                         xcb_atom_t type)
{
    const auto bytes = property(connection, window, name, type, 1);
    if (!bytes || bytes->size() < int(sizeof(uint32_t)))
        return std::nullopt;
    uint32_t value = 0;
    memcpy(&value, bytes->constData(), sizeof value);
    return value;
}

xcb_window_t activeWindow(xcb_connection_t* connection)
{
    const xcb_window_t root = rootWindow(connection);
    if (const auto active = cardinalProperty(connection, root, atom(connection, "_NET_ACTIVE_WINDOW"), XCB_ATOM_WINDOW);
        active && *active != XCB_WINDOW_NONE)
        return *active;
    auto cookie = xcb_get_input_focus(connection);
    Reply<xcb_get_input_focus_reply_t> reply(xcb_get_input_focus_reply(connection, cookie, nullptr));
    if (!reply || reply->focus == root || reply->focus == XCB_INPUT_FOCUS_POINTER_ROOT)
        return XCB_WINDOW_NONE;
    return reply->focus;
}

std::optional<WindowClass> windowClass(xcb_connection_t* connection, xcb_window_t window)
{
    for (int depth = 0; depth < kMaxAncestors && window != XCB_WINDOW_NONE; ++depth) {
        if (const auto bytes = property(connection, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 256)) {
            // Two NUL-terminated strings: instance, then class.
            const QList<QByteArray> parts = bytes->split('\0');
            WindowClass result;
            result.instance = parts.value(0).isEmpty() ? QString() : QString::fromLocal8Bit(parts.value(0));
            result.className = QString::fromLocal8Bit(parts.value(1));
            return result;
        }
        auto cookie = xcb_query_tree(connection, window);
        Reply<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(connection, cookie, nullptr));
        if (!tree || tree->parent == tree->root)
            break;
        window = tree->parent;
    }
    return std::nullopt;
}

} // namespace platform::linuxbackend::x11
