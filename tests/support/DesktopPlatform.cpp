#include "DesktopPlatform.h"

#include "platform/fake/FakePlatform.h"
#include "platform/linux/LinuxPlatform.h"

platform::Platform desktopWithFakeStores()
{
    platform::Platform p = platform::linuxbackend::makeLinuxPlatform();
    const platform::Platform fakes = platform::fake::makeFakePlatform();
    p.appInfo = fakes.appInfo;
    p.credentials = fakes.credentials;
    p.defaults = fakes.defaults;
    p.systemLog = fakes.systemLog;
    p.hotKeys = fakes.hotKeys;
    p.systemShortcuts = fakes.systemShortcuts;
    return p;
}

QProcessEnvironment accessibleEnvironment()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_LINUX_ACCESSIBILITY_ALWAYS_ON"), QStringLiteral("1"));
    return environment;
}
