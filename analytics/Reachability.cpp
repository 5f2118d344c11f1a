#include "Reachability.h"

#include "platform/NotificationBus.h"
#include "platform/Platform.h"

#include <QCoreApplication>
#include <QThread>

namespace analytics {

QString Reachability::text(Connection connection)
{
    switch (connection) {
    case Connection::wifi:
        return QStringLiteral("WiFi");
    case Connection::cellular:
        return QStringLiteral("Cellular");
    case Connection::unavailable:
        break;
    }
    return QStringLiteral("No Connection");
}

std::shared_ptr<Reachability> Reachability::create(ReachabilityError* error)
{
    auto service = platform::Platform::current().reachability;
    if (!service) {
        if (error)
            *error = {ReachabilityError::Kind::failedToCreateWithAddress, QStringLiteral("no reachability service")};
        return nullptr;
    }
    return std::make_shared<Reachability>(std::move(service));
}

Reachability::Reachability(std::shared_ptr<platform::Reachability> service)
    : service_(std::move(service))
{
    // Callbacks are delivered on the main thread, wherever the watcher was made.
    if (QCoreApplication* app = QCoreApplication::instance(); app && thread() != app->thread())
        moveToThread(app->thread());
}

Reachability::~Reachability()
{
    stopNotifier();
}

bool Reachability::startNotifier(ReachabilityError* error)
{
    if (notifierRunning_)
        return true;
    if (!service_) {
        if (error)
            *error = {ReachabilityError::Kind::unableToSetCallback, QStringLiteral("no reachability service")};
        return false;
    }
    subscription_ = connect(service_.get(), &platform::Reachability::pathChanged, this,
                            [this](platform::Reachability::Path path) { setPath(path); });
    setPath(service_->path());
    notifierRunning_ = true;
    return true;
}

void Reachability::stopNotifier()
{
    disconnect(subscription_);
    notifierRunning_ = false;
}

Reachability::Connection Reachability::connection()
{
    int flags = flags_.load();
    if (flags < 0 && service_)
        flags = static_cast<int>(service_->path());
    if (flags < 0)
        return Connection::unavailable;
    switch (static_cast<platform::Reachability::Path>(flags)) {
    case platform::Reachability::Path::Unmetered:
        return Connection::wifi;
    case platform::Reachability::Path::Cellular:
        return allowsCellularConnection ? Connection::cellular : Connection::unavailable;
    case platform::Reachability::Path::Unavailable:
        break;
    }
    return Connection::unavailable;
}

Reachability::NetworkStatus Reachability::currentReachabilityStatus()
{
    switch (connection()) {
    case Connection::wifi:
        return NetworkStatus::reachableViaWiFi;
    case Connection::cellular:
        return NetworkStatus::reachableViaWWAN;
    case Connection::unavailable:
        break;
    }
    return NetworkStatus::notReachable;
}

void Reachability::setPath(platform::Reachability::Path path)
{
    const int previous = flags_.exchange(static_cast<int>(path));
    if (previous != static_cast<int>(path))
        notifyChange();
}

void Reachability::notifyChange()
{
    // Queued, so a watcher destroyed meanwhile delivers nothing.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (connection() == Connection::unavailable) {
                if (whenUnreachable)
                    whenUnreachable(*this);
                emit becameUnreachable();
            } else {
                if (whenReachable)
                    whenReachable(*this);
                emit becameReachable();
            }
            if (const auto& bus = platform::Platform::current().notifications)
                bus->post(QString::fromLatin1(kReachabilityChangedNotification));
        },
        Qt::QueuedConnection);
}

} // namespace analytics
