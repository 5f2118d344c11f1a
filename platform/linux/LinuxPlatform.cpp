#include "LinuxPlatform.h"

#include "platform/NotificationBus.h"
#include "platform/linux/JournalSystemLog.h"
#include "platform/linux/JsonAppInfo.h"
#include "platform/linux/JsonFileDefaults.h"
#include "platform/linux/LinuxCredentialStore.h"
#include "platform/linux/SystemClock.h"

namespace platform::linuxbackend {

Platform makeLinuxPlatform()
{
    Platform p;
    p.appInfo = std::make_shared<JsonAppInfo>(JsonAppInfo::locate());
    p.clock = std::make_shared<SystemClock>();
    p.credentials = std::make_shared<LinuxCredentialStore>();
    p.defaults = std::make_shared<JsonFileDefaults>(JsonFileDefaults::standardFilePath());
    p.notifications = std::make_shared<NotificationBus>();
    p.systemLog = std::make_shared<JournalSystemLog>();
    return p;
}

} // namespace platform::linuxbackend
