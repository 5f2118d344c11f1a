#pragma once

#include "platform/Reachability.h"

namespace platform::linuxbackend {

// Reachability from Qt's network information backend (NetworkManager on a
// desktop). Without a backend the network counts as reachable, so nothing
// that waits for the network waits forever on a system that cannot tell.
class NetworkInformationReachability final : public Reachability {
    Q_OBJECT
public:
    // Create on the main thread.
    explicit NetworkInformationReachability(QObject* parent = nullptr);

    Path path() const override;

private:
    bool hasBackend_ = false;
};

} // namespace platform::linuxbackend
