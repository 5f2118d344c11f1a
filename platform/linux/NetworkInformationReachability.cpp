#include "NetworkInformationReachability.h"

#include <QNetworkInformation>

namespace platform::linuxbackend {

NetworkInformationReachability::NetworkInformationReachability(QObject* parent)
    : Reachability(parent)
{
    hasBackend_ = QNetworkInformation::instance() || QNetworkInformation::loadBackendByFeatures(QNetworkInformation::Feature::Reachability);
    QNetworkInformation* info = QNetworkInformation::instance();
    if (!hasBackend_ || !info)
        return;
    const auto changed = [this] { emit pathChanged(path()); };
    connect(info, &QNetworkInformation::reachabilityChanged, this, changed);
    connect(info, &QNetworkInformation::transportMediumChanged, this, changed);
}

Reachability::Path NetworkInformationReachability::path() const
{
    const QNetworkInformation* info = QNetworkInformation::instance();
    if (!hasBackend_ || !info)
        return Path::Unmetered;
    if (info->reachability() == QNetworkInformation::Reachability::Disconnected)
        return Path::Unavailable;
    if (info->supports(QNetworkInformation::Feature::TransportMedium) &&
        info->transportMedium() == QNetworkInformation::TransportMedium::Cellular)
        return Path::Cellular;
    return Path::Unmetered;
}

} // namespace platform::linuxbackend
