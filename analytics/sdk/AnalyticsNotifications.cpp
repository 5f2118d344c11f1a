#include "AnalyticsNotifications.h"

#include "platform/NotificationBus.h"
#include "platform/Platform.h"

namespace analytics {

void postNotification(const QString& name)
{
    if (const auto& bus = platform::Platform::current().notifications)
        bus->post(name);
}

} // namespace analytics
