#include "platform/DesktopCompositing.h"

#include "platform/linux/X11KeyGrabs.h"

#include <QByteArray>
#include <QGuiApplication>

#include <cstdlib>
#include <memory>

namespace platform {

bool desktopComposites()
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return true;
    xcb_connection_t* connection = linuxbackend::x11::applicationConnection();
    if (!connection)
        return true;
    // A compositing manager owns the selection _NET_WM_CM_S<screen number>.
    const QByteArray name = QByteArrayLiteral("_NET_WM_CM_S0");
    linuxbackend::x11::Reply<xcb_intern_atom_reply_t> atom(xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 1, uint16_t(name.size()), name.constData()), nullptr));
    if (!atom || atom->atom == XCB_ATOM_NONE)
        return false;
    linuxbackend::x11::Reply<xcb_get_selection_owner_reply_t> owner(
        xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, atom->atom), nullptr));
    return owner && owner->owner != XCB_NONE;
}

} // namespace platform
