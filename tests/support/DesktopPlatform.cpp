#include "DesktopPlatform.h"

#include "platform/fake/FakePlatform.h"
#include "platform/linux/LinuxPlatform.h"

#include <QDBusConnection>
#include <QDBusMessage>

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
    // Start this session's accessibility bus before the child looks for it:
    // the launcher announces it on the root window, where the child reads it
    // first, and a bus left there by an earlier session would take its place.
    QDBusConnection session = QDBusConnection::sessionBus();
    if (session.isConnected())
        session.call(QDBusMessage::createMethodCall(QStringLiteral("org.a11y.Bus"), QStringLiteral("/org/a11y/bus"),
                                                    QStringLiteral("org.a11y.Bus"), QStringLiteral("GetAddress")),
                     QDBus::Block, 20000);
    return environment;
}
