#pragma once

#include <QtGlobal>

#include <functional>

namespace platform {

// System-wide hot keys: a key with modifiers that reaches this program whatever
// window has the keyboard. Keys are given as the stored shortcuts carry them, a
// virtual key code (see PhysicalKeys.h) and the Carbon modifier bits below.
// Main thread only.
namespace CarbonModifier {
constexpr qint64 command = 0x100;
constexpr qint64 shift = 0x200;
constexpr qint64 option = 0x800;
constexpr qint64 control = 0x1000;
constexpr qint64 function = 0x20000;
} // namespace CarbonModifier

class HotKeyBackend {
public:
    enum class Event { pressed, released };
    // Called on the main thread, from inside the event dispatch.
    using Handler = std::function<void(quint32 id, Event event)>;

    // Statuses keep the numbers of the platform the stored shortcuts come from,
    // so a refused registration reads the same in a console line everywhere.
    static constexpr int statusOk = 0;
    // Another program holds the key.
    static constexpr int statusTaken = -9878;
    // The key or a modifier cannot be registered (the function modifier, a key
    // without a physical counterpart, values out of range).
    static constexpr int statusUnsupported = -50;
    // No hot-key service at all (no X11 display).
    static constexpr int statusUnavailable = -9879;

    virtual ~HotKeyBackend() = default;

    // Registers the key under the caller's id and answers a status; only
    // statusOk leaves a registration behind. One key may be registered under
    // several ids; its events then go to the lowest of them.
    virtual int registerHotKey(quint32 id, qint64 keyCode, qint64 carbonModifiers) = 0;
    // Releases the registration of the id; an unknown id is ignored.
    virtual void unregisterHotKey(quint32 id) = 0;
    // Where presses and releases go. A release goes to the id whose press it
    // ends, whatever modifiers are still held by then; a held key gives one
    // press, however long it auto-repeats.
    virtual void setHandler(Handler handler) = 0;
};

} // namespace platform
