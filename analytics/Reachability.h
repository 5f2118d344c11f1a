#pragma once

#include "platform/Reachability.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

namespace analytics {

// Names of the change notification on the platform's notification bus.
inline constexpr const char* kReachabilityChangedNotification = "reachabilityChanged";
inline constexpr const char* ReachabilityChangedNotification = "ReachabilityChangedNotification";

struct ReachabilityError {
    enum class Kind { failedToCreateWithAddress, failedToCreateWithHostname, unableToSetCallback,
                      unableToSetDispatchQueue, unableToGetFlags };
    Kind kind;
    QString detail;
};

// Watches the network path for the send queue: tells it when the network
// comes and goes, and whether the path counts as Wi-Fi (any path that is not
// cellular). Callbacks and the "reachabilityChanged" notification are
// delivered on the main thread, and only while the watcher exists.
class Reachability : public QObject {
    Q_OBJECT
public:
    enum class Connection { unavailable = 0, wifi = 1, cellular = 2 };
    enum class NetworkStatus { notReachable = 0, reachableViaWiFi = 1, reachableViaWWAN = 2 };
    static QString text(Connection connection);

    using Callback = std::function<void(Reachability&)>;

    // Watches the platform's reachability service; fails when none is
    // installed.
    static std::shared_ptr<Reachability> create(ReachabilityError* error = nullptr);
    explicit Reachability(std::shared_ptr<platform::Reachability> service);
    ~Reachability() override;

    // Starts listening and reads the current path, which always reports
    // once. Returns false (with the error) when it cannot.
    bool startNotifier(ReachabilityError* error = nullptr);
    void stopNotifier();
    bool notifierRunning() const { return notifierRunning_; }

    Connection connection();
    NetworkStatus currentReachabilityStatus();
    QString currentReachabilityString() { return text(connection()); }

    Callback whenReachable;
    Callback whenUnreachable;
    bool reachableOnWWAN = true;
    // Whether a cellular path counts as reachable at all.
    bool allowsCellularConnection = true;

signals:
    // Emitted with the callbacks, so that several listeners can share one
    // watcher (the event queue and the replay queue do).
    void becameReachable();
    void becameUnreachable();

private:
    void setPath(platform::Reachability::Path path);
    void notifyChange();

    std::shared_ptr<platform::Reachability> service_;
    // The last path seen, -1 before the first read; read from the queues' threads.
    std::atomic<int> flags_{-1};
    bool notifierRunning_ = false;
    QMetaObject::Connection subscription_;
};

} // namespace analytics
