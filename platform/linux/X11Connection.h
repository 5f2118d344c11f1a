#pragma once

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>

// Getting hold of an X connection, and owning what xcb hands back. Only
// platform sources include this header.
namespace platform::linuxbackend::x11 {

// The X connection of the running QGuiApplication, or null when it is not on X11.
xcb_connection_t* applicationConnection();

// A new client connection to $DISPLAY for work that must not share Qt's
// (events of its own, grabs that would replace ours); the caller disconnects
// it. Null when no X server answers. `screenNumber` gets the default screen.
xcb_connection_t* openConnection(int* screenNumber = nullptr);

// xcb replies and errors are malloc'd and freed by the caller.
struct FreeReply {
    void operator()(void* p) const { std::free(p); }
};
template <class T>
using Reply = std::unique_ptr<T, FreeReply>;

} // namespace platform::linuxbackend::x11
