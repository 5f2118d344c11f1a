#include "FakePlatform.h"

#include "platform/NotificationBus.h"
#include "platform/fake/FakeAccessibilityTrust.h"
#include "platform/fake/FakeAlerts.h"
#include "platform/fake/FakeAppInfo.h"
#include "platform/fake/FakeBeeper.h"
#include "platform/fake/FakeClock.h"
#include "platform/fake/FakeCredentialStore.h"
#include "platform/fake/FakeDefaults.h"
#include "platform/fake/FakeGlobalMouseMonitor.h"
#include "platform/fake/FakeHotKeyBackend.h"
#include "platform/fake/FakeKeySynthesizer.h"
#include "platform/fake/FakeKeyboardLayout.h"
#include "platform/fake/FakeReachability.h"
#include "platform/fake/FakeOpener.h"
#include "platform/fake/FakePasteboard.h"
#include "platform/fake/FakeScreens.h"
#include "platform/fake/FakeSelectionLocator.h"
#include "platform/fake/FakeSystemLog.h"
#include "platform/fake/FakeSystemShortcuts.h"
#include "platform/fake/FakeWorkspace.h"

namespace platform::fake {

Platform makeFakePlatform()
{
    Platform p;
    p.accessibilityTrust = std::make_shared<FakeAccessibilityTrust>();
    p.alerts = std::make_shared<FakeAlerts>();
    p.appInfo = std::make_shared<FakeAppInfo>();
    p.beeper = std::make_shared<FakeBeeper>();
    p.clock = std::make_shared<FakeClock>();
    p.credentials = std::make_shared<FakeCredentialStore>();
    p.defaults = std::make_shared<FakeDefaults>();
    p.globalMouse = std::make_shared<FakeGlobalMouseMonitor>();
    p.hotKeys = std::make_shared<FakeHotKeyBackend>();
    p.keyboardLayout = std::make_shared<FakeKeyboardLayout>();
    p.keySynthesizer = std::make_shared<FakeKeySynthesizer>();
    p.notifications = std::make_shared<NotificationBus>();
    p.reachability = std::make_shared<FakeReachability>();
    p.opener = std::make_shared<FakeOpener>();
    p.pasteboard = std::make_shared<FakePasteboard>();
    p.screens = std::make_shared<FakeScreens>();
    p.selectionLocator = std::make_shared<FakeSelectionLocator>();
    p.systemLog = std::make_shared<FakeSystemLog>();
    p.systemShortcuts = std::make_shared<FakeSystemShortcuts>();
    p.workspace = std::make_shared<FakeWorkspace>();
    return p;
}

} // namespace platform::fake
