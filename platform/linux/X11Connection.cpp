#include "X11Connection.h"

#include <QGuiApplication>

namespace platform::linuxbackend::x11 {

xcb_connection_t* applicationConnection()
{
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (!app)
        return nullptr;
    auto* x11 = app->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

xcb_connection_t* openConnection(int* screenNumber)
{
    xcb_connection_t* connection = xcb_connect(nullptr, screenNumber);
    // xcb_connect never returns null; a failed connection still needs freeing.
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        return nullptr;
    }
    return connection;
}

} // namespace platform::linuxbackend::x11
