#include "platform/XEmbedTrayWatcher.h"

#include "platform/linux/X11Desktop.h"

#include <QCoreApplication>

#include <xcb/xfixes.h>

namespace platform {

namespace {

using namespace linuxbackend;

// The system tray protocol's selection on the first screen, where the
// program's windows and its tray icon live.
constexpr char kTraySelection[] = "_NET_SYSTEM_TRAY_S0";

} // namespace

XEmbedTrayWatcher::XEmbedTrayWatcher(QObject* parent)
    : QObject(parent)
{
    xcb_connection_t* connection = x11::applicationConnection();
    if (!connection)
        return;
    const xcb_query_extension_reply_t* xfixes = xcb_get_extension_data(connection, &xcb_xfixes_id);
    if (!xfixes || !xfixes->present)
        return;
    // Qt negotiated the XFixes version on this connection for its clipboard.
    selection_ = x11::atom(connection, kTraySelection);
    if (selection_ == XCB_ATOM_NONE)
        return;
    selectionNotify_ = xfixes->first_event + XCB_XFIXES_SELECTION_NOTIFY;
    QCoreApplication::instance()->installNativeEventFilter(this);
    xcb_xfixes_select_selection_input(connection, x11::rootWindow(connection), selection_,
                                      XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER
                                          | XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_WINDOW_DESTROY
                                          | XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_CLIENT_CLOSE);
    xcb_flush(connection);
}

XEmbedTrayWatcher::~XEmbedTrayWatcher()
{
    if (selectionNotify_ < 0 || !QCoreApplication::instance())
        return;
    QCoreApplication::instance()->removeNativeEventFilter(this);
    if (xcb_connection_t* connection = x11::applicationConnection()) {
        xcb_xfixes_select_selection_input(connection, x11::rootWindow(connection), selection_, 0);
        xcb_flush(connection);
    }
}

bool XEmbedTrayWatcher::trayPresent() const
{
    xcb_connection_t* connection = selectionNotify_ >= 0 ? x11::applicationConnection() : nullptr;
    if (!connection)
        return false;
    x11::Reply<xcb_get_selection_owner_reply_t> reply(
        xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, selection_), nullptr));
    return reply && reply->owner != XCB_WINDOW_NONE;
}

bool XEmbedTrayWatcher::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*)
{
    if (eventType != "xcb_generic_event_t")
        return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7f) != selectionNotify_)
        return false;
    const auto* notice = reinterpret_cast<const xcb_xfixes_selection_notify_event_t*>(event);
    if (notice->selection == selection_)
        emit trayChanged();
    // Qt reads these notices for its clipboard too.
    return false;
}

} // namespace platform
