#pragma once

#include <QByteArray>
#include <QString>

#include "platform/linux/X11Connection.h"

#include <xcb/xcb.h>

#include <optional>

// Small helpers over the X connection for the desktop services (focus,
// window properties, synthesised keys). Only platform sources include this.
namespace platform::linuxbackend::x11 {

// The application's own X connection when Qt runs on xcb; otherwise a
// connection of our own to $DISPLAY, opened once. Null without an X server.
// Safe from any thread.
xcb_connection_t* displayConnection();

xcb_window_t rootWindow(xcb_connection_t* connection);
xcb_atom_t atom(xcb_connection_t* connection, const char* name);

// A property's raw value; none when the window does not have it.
std::optional<QByteArray> property(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t name,
                                   xcb_atom_t type, uint32_t maxLongs = 1024);
std::optional<uint32_t> cardinalProperty(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t name,
                                         xcb_atom_t type);

// The window that has the keyboard: the one EWMH names active while a window
// manager that keeps that hint runs; otherwise the application's top-level
// window holding the input focus, or, with the focus at PointerRoot, the one
// under the pointer. None when no window has it.
xcb_window_t activeWindow(xcb_connection_t* connection);

struct WindowClass {
    QString instance;
    QString className;
};
// WM_CLASS of the window or of the nearest ancestor that has one.
std::optional<WindowClass> windowClass(xcb_connection_t* connection, xcb_window_t window);

} // namespace platform::linuxbackend::x11
