#include "platform/PanelWindowHints.h"

#include "platform/linux/X11KeyGrabs.h"

#include <QByteArray>
#include <QGuiApplication>

#include <cstdlib>
#include <memory>
#include <vector>

namespace platform {

namespace {

xcb_atom_t internAtom(xcb_connection_t* connection, const QByteArray& name)
{
    linuxbackend::x11::Reply<xcb_intern_atom_reply_t> reply(
        xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, uint16_t(name.size()), name.constData()),
                              nullptr));
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

// Every desktop, in the _NET_WM_DESKTOP property.
constexpr uint32_t kAllDesktops = 0xFFFFFFFF;
// Source indication of _NET_ACTIVE_WINDOW: a pager or other user tool.
constexpr uint32_t kSourcePager = 2;

xcb_window_t rootOf(xcb_connection_t* connection, xcb_window_t window)
{
    linuxbackend::x11::Reply<xcb_get_geometry_reply_t> geometry(
        xcb_get_geometry_reply(connection, xcb_get_geometry(connection, window), nullptr));
    return geometry ? geometry->root : xcb_window_t(XCB_WINDOW_NONE);
}

bool hasWindowManager(xcb_connection_t* connection, xcb_window_t root)
{
    const xcb_atom_t check = internAtom(connection, QByteArrayLiteral("_NET_SUPPORTING_WM_CHECK"));
    if (check == XCB_ATOM_NONE)
        return false;
    linuxbackend::x11::Reply<xcb_get_property_reply_t> reply(
        xcb_get_property_reply(connection, xcb_get_property(connection, 0, root, check, XCB_ATOM_WINDOW, 0, 1),
                               nullptr));
    return reply && xcb_get_property_value_length(reply.get()) >= 4;
}

} // namespace

void markAsFloatingPanel(quint64 nativeWindow)
{
    if (QGuiApplication::platformName() != QLatin1String("xcb") || !nativeWindow)
        return;
    xcb_connection_t* connection = linuxbackend::x11::applicationConnection();
    if (!connection)
        return;
    const auto window = xcb_window_t(nativeWindow);
    // An unmapped window states its wishes in its own properties; Qt keeps
    // the state atoms it does not manage itself when it maps the window.
    std::vector<xcb_atom_t> states;
    for (const char* name : {"_NET_WM_STATE_ABOVE", "_NET_WM_STATE_SKIP_TASKBAR", "_NET_WM_STATE_SKIP_PAGER"}) {
        const xcb_atom_t atom = internAtom(connection, QByteArray(name));
        if (atom != XCB_ATOM_NONE)
            states.push_back(atom);
    }
    const xcb_atom_t wmState = internAtom(connection, QByteArrayLiteral("_NET_WM_STATE"));
    if (wmState != XCB_ATOM_NONE)
        xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window, wmState, XCB_ATOM_ATOM, 32,
                            uint32_t(states.size()), states.data());
    const xcb_atom_t wmDesktop = internAtom(connection, QByteArrayLiteral("_NET_WM_DESKTOP"));
    if (wmDesktop != XCB_ATOM_NONE)
        xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window, wmDesktop, XCB_ATOM_CARDINAL, 32, 1,
                            &kAllDesktops);
    xcb_flush(connection);
}

} // namespace platform

namespace platform {

bool activateForUser(quint64 nativeWindow)
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return false;
    xcb_connection_t* connection = linuxbackend::x11::applicationConnection();
    if (!connection || !nativeWindow)
        return false;
    const auto window = xcb_window_t(nativeWindow);
    const xcb_window_t root = rootOf(connection, window);
    if (root == XCB_WINDOW_NONE)
        return false;
    if (!hasWindowManager(connection, root)) {
        xcb_set_input_focus(connection, XCB_INPUT_FOCUS_PARENT, window, XCB_CURRENT_TIME);
        xcb_flush(connection);
        return true;
    }
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = internAtom(connection, QByteArrayLiteral("_NET_ACTIVE_WINDOW"));
    event.data.data32[0] = kSourcePager;
    event.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(connection, 0, root, XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&event));
    xcb_flush(connection);
    return true;
}

} // namespace platform
