#pragma once

#include <QList>
#include <QtGlobal>

#include "platform/linux/X11Connection.h"

#include <xcb/xcb.h>

#include <compare>
#include <optional>
#include <vector>

// Passive key grabs on the root windows, shared by the hot-key backend and
// the probe for reserved shortcuts. Only platform sources include this header.
namespace platform::linuxbackend::x11 {

struct GrabKey {
    xcb_keycode_t keycode = 0;
    uint16_t modifiers = 0;
    auto operator<=>(const GrabKey&) const = default;
};

// The X key and modifier mask of a stored shortcut, or the status that refuses
// it (HotKeyBackend::statusUnsupported).
struct GrabKeyResult {
    std::optional<GrabKey> key;
    int status = 0;
};
GrabKeyResult grabKeyFor(qint64 keyCode, qint64 carbonModifiers);

// The modifier masks that must be grabbed as well, so that Caps Lock and Num
// Lock being on do not hide the key: none, Lock, Num Lock and both.
std::vector<uint16_t> lockVariants(xcb_connection_t* connection);

// The real modifier that Num Lock sets on this server (Mod2 as a rule), or 0.
uint16_t numLockMask(xcb_connection_t* connection);

std::vector<xcb_window_t> rootWindows(xcb_connection_t* connection);

// Grabs the key with every variant on every root. Answers statusOk, or the
// status of the first refusal after releasing whatever was taken.
int grab(xcb_connection_t* connection, const GrabKey& key, const std::vector<uint16_t>& variants);
void ungrab(xcb_connection_t* connection, const GrabKey& key, const std::vector<uint16_t>& variants);

// For each key, whether another client already holds a grab of it with any
// variant. Every request is sent before the first answer is read, and every
// grab that succeeded is released again.
std::vector<bool> probeTaken(xcb_connection_t* connection, const std::vector<GrabKey>& keys);

// Whether the event tells that the keyboard mapping changed: a core mapping
// notify about keys or modifiers, or XKB's new-keyboard or map notify.
bool isKeyboardMappingChange(xcb_connection_t* connection, const xcb_generic_event_t* event);

// The keyboard's new effective group, when the event is XKB's state notify.
std::optional<uint8_t> xkbGroupChange(xcb_connection_t* connection, const xcb_generic_event_t* event);

// Asks the server for detectable auto-repeat on the connection, so a held key
// gives presses without releases in between. False when XKB is missing.
bool enableDetectableAutoRepeat(xcb_connection_t* connection);

} // namespace platform::linuxbackend::x11
