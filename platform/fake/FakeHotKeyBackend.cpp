#include "FakeHotKeyBackend.h"

namespace platform::fake {

int FakeHotKeyBackend::registerHotKey(quint32 id, qint64 keyCode, qint64 carbonModifiers)
{
    ++registerCalls_;
    for (const auto& [key, status] : refused_) {
        if (key.keyCode == keyCode && key.carbonModifiers == carbonModifiers)
            return status;
    }
    live_[id] = {id, keyCode, carbonModifiers};
    return statusOk;
}

void FakeHotKeyBackend::unregisterHotKey(quint32 id)
{
    ++unregisterCalls_;
    live_.erase(id);
}

void FakeHotKeyBackend::setHandler(Handler handler)
{
    handler_ = std::move(handler);
}

QList<FakeHotKeyBackend::Registration> FakeHotKeyBackend::live() const
{
    QList<Registration> out;
    for (const auto& [id, registration] : live_)
        out.append(registration);
    return out;
}

bool FakeHotKeyBackend::isRegistered(qint64 keyCode, qint64 carbonModifiers) const
{
    for (const auto& [id, r] : live_) {
        if (r.keyCode == keyCode && r.carbonModifiers == carbonModifiers)
            return true;
    }
    return false;
}

void FakeHotKeyBackend::refuse(qint64 keyCode, qint64 carbonModifiers, int status)
{
    allow(keyCode, carbonModifiers);
    refused_.append({Registration{0, keyCode, carbonModifiers}, status});
}

void FakeHotKeyBackend::allow(qint64 keyCode, qint64 carbonModifiers)
{
    refused_.removeIf([&](const auto& entry) {
        return entry.first.keyCode == keyCode && entry.first.carbonModifiers == carbonModifiers;
    });
}

bool FakeHotKeyBackend::press(qint64 keyCode, qint64 carbonModifiers)
{
    return deliver(keyCode, carbonModifiers, Event::pressed);
}

bool FakeHotKeyBackend::release(qint64 keyCode, qint64 carbonModifiers)
{
    return deliver(keyCode, carbonModifiers, Event::released);
}

void FakeHotKeyBackend::fire(quint32 id, Event event)
{
    if (handler_)
        handler_(id, event);
}

bool FakeHotKeyBackend::deliver(qint64 keyCode, qint64 carbonModifiers, Event event)
{
    if (!handler_)
        return false;
    for (const auto& [id, r] : live_) {
        if (r.keyCode == keyCode && r.carbonModifiers == carbonModifiers) {
            // The handler may change the registrations; copy before calling.
            const Handler handler = handler_;
            handler(id, event);
            return true;
        }
    }
    return false;
}

} // namespace platform::fake
