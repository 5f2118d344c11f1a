#pragma once

#include <QObject>

namespace platform {

// Whether the network can be reached, and over what kind of path. Changes
// are signalled on the main thread.
class Reachability : public QObject {
    Q_OBJECT
public:
    enum class Path {
        Unavailable,
        // Reachable over a path that costs nothing per byte: Ethernet, Wi-Fi,
        // or a path the system cannot tell apart.
        Unmetered,
        Cellular,
    };
    Q_ENUM(Path)

    using QObject::QObject;
    ~Reachability() override = default;

    virtual Path path() const = 0;

signals:
    void pathChanged(platform::Reachability::Path path);
};

} // namespace platform
