#include "X11SystemShortcuts.h"

#include "platform/linux/X11HotKeyBackend.h"
#include "platform/linux/X11KeyGrabs.h"

namespace platform::linuxbackend {

struct X11SystemShortcuts::State {
    std::weak_ptr<X11HotKeyBackend> ownHotKeys;
    xcb_connection_t* connection = nullptr;
    bool triedToConnect = false;

    xcb_connection_t* probeConnection()
    {
        if (connection && xcb_connection_has_error(connection)) {
            xcb_disconnect(connection);
            connection = nullptr;
            triedToConnect = false;
        }
        if (!connection && !triedToConnect) {
            triedToConnect = true;
            // Probes need a client of their own: a grab from Qt's connection
            // would silently replace one of our own hot keys.
            connection = x11::openConnection();
        }
        return connection;
    }
};

X11SystemShortcuts::X11SystemShortcuts(std::weak_ptr<X11HotKeyBackend> ownHotKeys)
    : d(std::make_unique<State>())
{
    d->ownHotKeys = std::move(ownHotKeys);
}

X11SystemShortcuts::~X11SystemShortcuts()
{
    if (d->connection)
        xcb_disconnect(d->connection);
}

QList<SystemShortcuts::Combination> X11SystemShortcuts::reserved(const QList<Combination>& candidates)
{
    xcb_connection_t* connection = d->probeConnection();
    if (!connection)
        return {};
    const std::shared_ptr<X11HotKeyBackend> own = d->ownHotKeys.lock();
    std::vector<x11::GrabKey> keys;
    QList<Combination> probed;
    for (const Combination& candidate : candidates) {
        if (own && own->holds(candidate.keyCode, candidate.carbonModifiers))
            continue;
        const x11::GrabKeyResult target = x11::grabKeyFor(candidate.keyCode, candidate.carbonModifiers);
        if (!target.key)
            continue;
        keys.push_back(*target.key);
        probed.append(candidate);
    }
    const std::vector<bool> taken = x11::probeTaken(connection, keys);
    QList<Combination> out;
    for (qsizetype i = 0; i < probed.size(); ++i) {
        if (taken[size_t(i)])
            out.append(probed[i]);
    }
    return out;
}

} // namespace platform::linuxbackend
