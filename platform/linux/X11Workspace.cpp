#include "X11Workspace.h"

#include "platform/linux/X11Desktop.h"

#include <QCoreApplication>

namespace platform::linuxbackend {

namespace {
// Source indication 1: a normal application asks, as the window manager's
// focus-stealing rules expect from us.
constexpr uint32_t kSourceApplication = 1;

// Whether this program's own connection to the server made `window`. The
// server hands each client its window ids from a range of its own, so the id
// answers even for a window already destroyed, which has no properties left.
bool madeByThisProgram(xcb_connection_t* connection, xcb_window_t window)
{
    if (connection != x11::applicationConnection())
        return false;
    const xcb_setup_t* setup = xcb_get_setup(connection);
    return (window & ~setup->resource_id_mask) == setup->resource_id_base;
}
} // namespace

std::optional<Workspace::FrontApplication> X11Workspace::frontmostApplication() const
{
    xcb_connection_t* connection = x11::displayConnection();
    if (!connection)
        return std::nullopt;
    const xcb_window_t window = x11::activeWindow(connection);
    if (window == XCB_WINDOW_NONE)
        return std::nullopt;
    FrontApplication front;
    front.window = window;
    if (const auto pid = x11::cardinalProperty(connection, window, x11::atom(connection, "_NET_WM_PID"),
                                               XCB_ATOM_CARDINAL))
        front.pid = *pid;
    else if (madeByThisProgram(connection, window))
        // One of our panels, closed a moment ago: the window manager names it
        // until it has handed the keyboard on. It is still ours, not another
        // application's.
        front.pid = QCoreApplication::applicationPid();
    if (const auto cls = x11::windowClass(connection, window)) {
        front.windowClass = cls->className;
        front.instanceName = cls->instance;
    }
    return front;
}

bool X11Workspace::activate(const FrontApplication& application)
{
    xcb_connection_t* connection = x11::displayConnection();
    if (!connection || application.window == 0)
        return false;
    const auto window = xcb_window_t(application.window);
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = x11::atom(connection, "_NET_ACTIVE_WINDOW");
    event.data.data32[0] = kSourceApplication;
    event.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(connection, 0, x11::rootWindow(connection),
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&event));
    // Without a window manager nobody answers the message; focusing directly
    // keeps activation working there too.
    xcb_set_input_focus(connection, XCB_INPUT_FOCUS_PARENT, window, XCB_CURRENT_TIME);
    xcb_flush(connection);
    return true;
}

} // namespace platform::linuxbackend
