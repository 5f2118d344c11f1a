#include "LinuxPlatform.h"

#include "platform/NotificationBus.h"
#include "platform/linux/AtSpiSelectionLocator.h"
#include "platform/linux/JournalSystemLog.h"
#include "platform/linux/JsonAppInfo.h"
#include "platform/linux/JsonFileDefaults.h"
#include "platform/linux/LinuxCredentialStore.h"
#include "platform/linux/MessageBoxAlerts.h"
#include "platform/linux/NetworkInformationReachability.h"
#include "platform/linux/QtBeeper.h"
#include "platform/linux/QtOpener.h"
#include "platform/linux/QtScreens.h"
#include "platform/linux/QtPasteboard.h"
#include "platform/linux/SystemClock.h"
#include "platform/linux/X11AccessibilityTrust.h"
#include "platform/linux/X11GlobalMouseMonitor.h"
#include "platform/linux/X11HotKeyBackend.h"
#include "platform/linux/X11KeyboardLayout.h"
#include "platform/linux/X11SystemShortcuts.h"
#include "platform/linux/X11Workspace.h"
#include "platform/linux/XTestKeySynthesizer.h"

namespace platform::linuxbackend {

Platform makeLinuxPlatform()
{
    Platform p;
    p.accessibilityTrust = std::make_shared<X11AccessibilityTrust>();
    p.alerts = std::make_shared<MessageBoxAlerts>();
    p.appInfo = std::make_shared<JsonAppInfo>(JsonAppInfo::locate());
    p.beeper = std::make_shared<QtBeeper>();
    p.clock = std::make_shared<SystemClock>();
    p.credentials = std::make_shared<LinuxCredentialStore>();
    p.defaults = std::make_shared<JsonFileDefaults>(JsonFileDefaults::standardFilePath());
    p.globalMouse = std::make_shared<X11GlobalMouseMonitor>();
    auto hotKeys = std::make_shared<X11HotKeyBackend>();
    p.hotKeys = hotKeys;
    p.keyboardLayout = std::make_shared<X11KeyboardLayout>();
    p.keySynthesizer = std::make_shared<XTestKeySynthesizer>();
    p.notifications = std::make_shared<NotificationBus>();
    p.reachability = std::make_shared<NetworkInformationReachability>();
    p.opener = std::make_shared<QtOpener>();
    p.screens = std::make_shared<QtScreens>();
    p.pasteboard = std::make_shared<QtPasteboard>();
    p.systemLog = std::make_shared<JournalSystemLog>();
    p.systemShortcuts = std::make_shared<X11SystemShortcuts>(hotKeys);
    auto workspace = std::make_shared<X11Workspace>();
    p.workspace = workspace;
    p.selectionLocator = std::make_shared<AtSpiSelectionLocator>(workspace);
    return p;
}

} // namespace platform::linuxbackend
