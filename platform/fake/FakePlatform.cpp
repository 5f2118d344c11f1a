#include "FakePlatform.h"

#include "platform/NotificationBus.h"
#include "platform/fake/FakeAppInfo.h"
#include "platform/fake/FakeClock.h"
#include "platform/fake/FakeCredentialStore.h"
#include "platform/fake/FakeDefaults.h"
#include "platform/fake/FakeSystemLog.h"

namespace platform::fake {

Platform makeFakePlatform()
{
    Platform p;
    p.appInfo = std::make_shared<FakeAppInfo>();
    p.clock = std::make_shared<FakeClock>();
    p.credentials = std::make_shared<FakeCredentialStore>();
    p.defaults = std::make_shared<FakeDefaults>();
    p.notifications = std::make_shared<NotificationBus>();
    p.systemLog = std::make_shared<FakeSystemLog>();
    return p;
}

} // namespace platform::fake
