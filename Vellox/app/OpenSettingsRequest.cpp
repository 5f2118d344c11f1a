#include "Vellox/app/OpenSettingsRequest.h"

#include "platform/NotificationBus.h"
#include "platform/Platform.h"

namespace OpenSettingsRequest {

void post()
{
    if (auto bus = platform::Platform::current().notifications)
        bus->post(QString::fromLatin1(kName));
}

} // namespace OpenSettingsRequest
