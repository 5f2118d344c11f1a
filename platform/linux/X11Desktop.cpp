#include "X11Desktop.h"

#include "platform/linux/X11KeyGrabs.h"

#include <QHash>
#include <QList>
#include <QMutex>

#include <cstring>

#include <cstdlib>
#include <memory>

namespace platform::linuxbackend::x11 {

namespace {

// Parent walks stop here; real window trees are a few levels deep.
constexpr int kMaxAncestors = 32;
// A window manager's frame holds its client a few levels down; the search
// below a top-level window stops at this depth and this many windows.
constexpr int kMaxFrameDepth = 4;
constexpr int kMaxFrameWindows = 64;

struct Tree {
    xcb_window_t root = XCB_WINDOW_NONE;
    xcb_window_t parent = XCB_WINDOW_NONE;
    QList<xcb_window_t> children;
};

// None for a window that is gone; windows of other clients vanish at any time,
// so the error is taken here rather than logged as Qt's.
std::optional<Tree> tree(xcb_connection_t* connection, xcb_window_t window)
{
    xcb_generic_error_t* error = nullptr;
    Reply<xcb_query_tree_reply_t> reply(xcb_query_tree_reply(connection, xcb_query_tree(connection, window), &error));
    std::free(error);
    if (!reply)
        return std::nullopt;
    const xcb_window_t* children = xcb_query_tree_children(reply.get());
    return Tree{reply->root, reply->parent,
                QList<xcb_window_t>(children, children + xcb_query_tree_children_length(reply.get()))};
}

// A window manager sets WM_STATE on the windows it manages, which are the
// applications' own top-level windows and never its frames.
bool hasWmState(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t wmState)
{
    return property(connection, window, wmState, XCB_ATOM_ANY, 0).has_value();
}

// Whether the window manager that set _NET_ACTIVE_WINDOW still runs: its check
// window lives and names itself. A manager that crashed or was replaced by
// one without these hints leaves the root's properties behind, stale.
bool ewmhManagerRunning(xcb_connection_t* connection, xcb_window_t root)
{
    const xcb_atom_t check = atom(connection, "_NET_SUPPORTING_WM_CHECK");
    const auto child = cardinalProperty(connection, root, check, XCB_ATOM_WINDOW);
    if (!child || *child == XCB_WINDOW_NONE)
        return false;
    const auto self = cardinalProperty(connection, *child, check, XCB_ATOM_WINDOW);
    return self && *self == *child;
}

// The child of the root under the pointer: with the focus at PointerRoot (or
// at the root) keys go there.
xcb_window_t topLevelUnderPointer(xcb_connection_t* connection, xcb_window_t root)
{
    Reply<xcb_query_pointer_reply_t> reply(
        xcb_query_pointer_reply(connection, xcb_query_pointer(connection, root), nullptr));
    return reply && reply->same_screen ? reply->child : xcb_window_t(XCB_WINDOW_NONE);
}

// The top-level window the application made that holds `window`: the nearest
// window upwards with WM_STATE; else, below the child of the root that holds
// it (a frame), the first one with WM_STATE; else that child itself, which
// without a window manager is the application's own.
xcb_window_t applicationTopLevel(xcb_connection_t* connection, xcb_window_t window)
{
    const xcb_atom_t wmState = atom(connection, "WM_STATE");
    xcb_window_t topLevel = window;
    for (int depth = 0; depth < kMaxAncestors; ++depth) {
        if (hasWmState(connection, topLevel, wmState))
            return topLevel;
        const auto node = tree(connection, topLevel);
        if (!node)
            return XCB_WINDOW_NONE;
        if (node->parent == node->root || node->parent == XCB_WINDOW_NONE)
            break;
        topLevel = node->parent;
    }
    QList<xcb_window_t> level{topLevel};
    int visited = 0;
    for (int depth = 0; depth < kMaxFrameDepth && !level.isEmpty(); ++depth) {
        QList<xcb_window_t> next;
        for (xcb_window_t candidate : level) {
            if (++visited > kMaxFrameWindows)
                return topLevel;
            if (depth > 0 && hasWmState(connection, candidate, wmState))
                return candidate;
            if (const auto node = tree(connection, candidate))
                next += node->children;
        }
        level = next;
    }
    return topLevel;
}

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
    // An atom lives as long as the server, every connection of the process
    // goes to the one server of $DISPLAY, and the focus is looked up on the
    // hot key's road: ask the server for each name once.
    static QMutex mutex;
    static QHash<QByteArray, xcb_atom_t> known;
    const QByteArray key(name);
    {
        QMutexLocker lock(&mutex);
        if (const auto found = known.constFind(key); found != known.cend())
            return *found;
    }
    auto cookie = xcb_intern_atom(connection, 0, uint16_t(strlen(name)), name);
    Reply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(connection, cookie, nullptr));
    if (!reply)
        return XCB_ATOM_NONE;
    QMutexLocker lock(&mutex);
    known.insert(key, reply->atom);
    return reply->atom;
}

std::optional<QByteArray> property(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t name,
                                   xcb_atom_t type, uint32_t maxLongs)
{
    if (window == XCB_WINDOW_NONE || name == XCB_ATOM_NONE)
        return std::nullopt;
    auto cookie = xcb_get_property(connection, 0, window, name, type, 0, maxLongs);
    // A window of another client may be gone by now; that is an answer, not
    // an error to log.
    xcb_generic_error_t* error = nullptr;
    Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(connection, cookie, &error));
    std::free(error);
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
    if (ewmhManagerRunning(connection, root)) {
        if (const auto active =
                cardinalProperty(connection, root, atom(connection, "_NET_ACTIVE_WINDOW"), XCB_ATOM_WINDOW);
            active && *active != XCB_WINDOW_NONE)
            return *active;
    }
    Reply<xcb_get_input_focus_reply_t> reply(
        xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
    if (!reply || reply->focus == XCB_WINDOW_NONE)
        return XCB_WINDOW_NONE;
    xcb_window_t focus = reply->focus;
    if (focus == XCB_INPUT_FOCUS_POINTER_ROOT || focus == root)
        focus = topLevelUnderPointer(connection, root);
    if (focus == XCB_WINDOW_NONE)
        return XCB_WINDOW_NONE;
    return applicationTopLevel(connection, focus);
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
        const auto node = tree(connection, window);
        if (!node || node->parent == node->root || node->parent == XCB_WINDOW_NONE)
            break;
        window = node->parent;
    }
    return std::nullopt;
}

} // namespace platform::linuxbackend::x11
