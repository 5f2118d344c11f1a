#pragma once

#include "platform/HotKeyBackend.h"

#include <QList>

#include <map>

namespace platform::fake {

// Records every registration, refuses the keys a test names, and fires
// presses and releases on request.
class FakeHotKeyBackend final : public HotKeyBackend {
public:
    struct Registration {
        quint32 id = 0;
        qint64 keyCode = 0;
        qint64 carbonModifiers = 0;
    };

    int registerHotKey(quint32 id, qint64 keyCode, qint64 carbonModifiers) override;
    void unregisterHotKey(quint32 id) override;
    void setHandler(Handler handler) override;

    // Registrations alive now, by ascending id.
    QList<Registration> live() const;
    bool isRegistered(qint64 keyCode, qint64 carbonModifiers) const;
    int registerCalls() const { return registerCalls_; }
    int unregisterCalls() const { return unregisterCalls_; }
    bool hasHandler() const { return bool(handler_); }

    // Later registrations of the key answer the status until allow().
    void refuse(qint64 keyCode, qint64 carbonModifiers, int status = statusTaken);
    void allow(qint64 keyCode, qint64 carbonModifiers);

    // Deliver a press or release of the key as the real backend would: to the
    // lowest id registered for it. False when the key is not registered or no
    // handler is set, and nothing was delivered.
    bool press(qint64 keyCode, qint64 carbonModifiers);
    bool release(qint64 keyCode, qint64 carbonModifiers);
    // Deliver an event for any id, registered or not.
    void fire(quint32 id, Event event);

private:
    bool deliver(qint64 keyCode, qint64 carbonModifiers, Event event);

    std::map<quint32, Registration> live_;
    QList<std::pair<Registration, int>> refused_;
    Handler handler_;
    int registerCalls_ = 0;
    int unregisterCalls_ = 0;
};

} // namespace platform::fake
