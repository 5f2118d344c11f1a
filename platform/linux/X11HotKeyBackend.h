#pragma once

#include "platform/HotKeyBackend.h"

#include <QAbstractNativeEventFilter>

#include <memory>

namespace platform::linuxbackend {

// Hot keys as passive key grabs on the X11 root windows, with the Caps Lock
// and Num Lock variants, and their events taken from Qt's xcb event stream.
// Held keys rely on XKB's detectable auto-repeat. Without an X11 display every
// registration answers statusUnavailable.
class X11HotKeyBackend final : public HotKeyBackend, public QAbstractNativeEventFilter {
public:
    enum class Connection {
        // Qt's own connection; events arrive through Qt's event loop.
        application,
        // A connection of its own, as another X client would have. It only
        // holds grabs: its events are never read.
        own,
    };

    explicit X11HotKeyBackend(Connection connection = Connection::application);
    ~X11HotKeyBackend() override;

    int registerHotKey(quint32 id, qint64 keyCode, qint64 carbonModifiers) override;
    void unregisterHotKey(quint32 id) override;
    void setHandler(Handler handler) override;

    // Whether this backend holds the key's grab now.
    bool holds(qint64 keyCode, qint64 carbonModifiers) const;

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

private:
    struct State;
    std::unique_ptr<State> d;
};

} // namespace platform::linuxbackend
