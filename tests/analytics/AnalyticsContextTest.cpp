#include "analytics/AnalyticsContext.h"

#include "analytics/Reachability.h"
#include "platform/Platform.h"
#include "platform/fake/FakeAppInfo.h"
#include "platform/fake/FakePlatform.h"
#include "platform/fake/FakeReachability.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QGuiApplication>
#include <QScreen>
#include <QWindow>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <sys/utsname.h>

using namespace analytics;

namespace {

QString firmware(const char* path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()).trimmed() : QString();
}

} // namespace

TEST(AnalyticsContextTest, StaticKeysDescribeThisMachine)
{
    platform::PlatformGuard guard;
    platform::fake::as<platform::fake::FakeAppInfo>(guard.platform().appInfo).values = {
        {"CFBundleIdentifier", "app.vellox.desktop"}, {"CFBundleName", "Vellox"},
        {"CFBundleShortVersionString", "1.0.0"},      {"CFBundleVersion", "42"}};
    AnalyticsContext context(nullptr);
    const QVariantMap map = context.staticContext();

    struct utsname names {};
    ASSERT_EQ(::uname(&names), 0);
    QFile osRelease("/etc/os-release");
    if (!osRelease.open(QIODevice::ReadOnly))
        osRelease.setFileName("/usr/lib/os-release"), (void)osRelease.open(QIODevice::ReadOnly);
    const QVariantMap release = AnalyticsContext::parseOsRelease(osRelease.readAll());

    struct Case {
        const char* key;
        QVariant expected;
    };
    const Case cases[] = {
        {"$app_name", "Vellox"},
        {"$app_version", "1.0.0"},
        {"$app_build", 42LL},
        {"$is_testflight", false},
        {"$is_sideloaded", false},
        {"$app_namespace", "app.vellox.desktop"},
        {"$device_model", QString::fromLatin1(names.machine)},
        {"$device_type", "Desktop"},
        {"$is_emulator", false},
        {"$is_ios_running_on_mac", false},
        {"$is_mac_catalyst_app", false},
        {"$os_name", release.value("NAME", "Linux")},
        {"$os_version", release.value("VERSION_ID", QString::fromLatin1(names.release))},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key);
        EXPECT_EQ(map.value(c.key), c.expected);
    }
    const QString vendor = firmware("/sys/class/dmi/id/sys_vendor");
    const QString product = firmware("/sys/class/dmi/id/product_name");
    EXPECT_EQ(map.value("$device_manufacturer").toString(), vendor) << "from DMI, or absent where unreadable";
    EXPECT_EQ(map.contains("$device_manufacturer"), !vendor.isEmpty());
    EXPECT_EQ(map.value("$device_name").toString(), product);
    for (const QVariant& value : map)
        EXPECT_FALSE(value.toString().contains("macOS") || value.toString() == "Apple") << "nothing of another system";

    const QVariantMap person = context.personPropertiesContext();
    EXPECT_EQ(person.keys(), QStringList({"$app_build", "$app_namespace", "$app_version", "$device_type", "$lib",
                                          "$lib_version", "$os_name", "$os_version"}));
    EXPECT_EQ(context.sdkInfo(), QVariantMap({{"$lib", "analytics-linux"}, {"$lib_version", "3.57.3"}}));
}

TEST(AnalyticsContextTest, InformationFileFallbacks)
{
    platform::PlatformGuard guard;
    platform::fake::as<platform::fake::FakeAppInfo>(guard.platform().appInfo).values = {
        {"CFBundleDisplayName", "Vellox Display"}, {"CFBundleVersion", "1.2"}};
    AnalyticsContext context(nullptr);
    const QVariantMap map = context.staticContext();
    EXPECT_EQ(map.value("$app_name"), "Vellox Display");
    EXPECT_EQ(map.value("$app_build"), "1.2");
    EXPECT_FALSE(map.contains("$app_version"));
    EXPECT_EQ(map.value("$app_namespace"), "app.vellox.analytics");
}

TEST(AnalyticsContextTest, DynamicKeysFollowTheNetworkAndTheFocusedScreen)
{
    platform::PlatformGuard guard;
    auto& fake = platform::fake::as<platform::fake::FakeReachability>(guard.platform().reachability);
    AnalyticsContext context(Reachability::create());
    struct Case {
        platform::Reachability::Path path;
        bool wifi;
        bool cellular;
    };
    for (const Case& c : {Case{platform::Reachability::Path::Unmetered, true, false},
                          Case{platform::Reachability::Path::Cellular, false, true},
                          Case{platform::Reachability::Path::Unavailable, false, false}}) {
        fake.setPath(c.path);
        const QVariantMap map = context.dynamicContext();
        EXPECT_EQ(map.value("$network_wifi"), c.wifi);
        EXPECT_EQ(map.value("$network_cellular"), c.cellular);
        EXPECT_EQ(map.value("$timezone").toString().toUtf8(), QTimeZone::systemTimeZoneId());
        EXPECT_FALSE(map.contains("$screen_width")) << "no window has had focus";
    }
    EXPECT_FALSE(AnalyticsContext(nullptr).dynamicContext().contains("$network_wifi"));

    QWindow window;
    window.resize(200, 100);
    window.show();
    window.requestActivate();
    QDeadlineTimer deadline(5000);
    while (QGuiApplication::focusWindow() != &window && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    ASSERT_EQ(QGuiApplication::focusWindow(), &window);
    const QSize screen = window.screen()->geometry().size();
    const QVariantMap map = context.dynamicContext();
    EXPECT_EQ(map.value("$screen_width"), static_cast<float>(screen.width()));
    EXPECT_EQ(map.value("$screen_height"), static_cast<float>(screen.height()));
}

TEST(AnalyticsContextTest, OsReleaseQuotingIsRead)
{
    const QVariantMap values = AnalyticsContext::parseOsRelease(
        "# comment\nNAME=\"Debian GNU/Linux\"\nVERSION_ID='12'\nID=debian\nBROKEN\nPRETTY_NAME=\"A \\\"quoted\\\" one\"\n");
    EXPECT_EQ(values.value("NAME"), "Debian GNU/Linux");
    EXPECT_EQ(values.value("VERSION_ID"), "12");
    EXPECT_EQ(values.value("ID"), "debian");
    EXPECT_EQ(values.value("PRETTY_NAME"), "A \"quoted\" one");
    EXPECT_FALSE(values.contains("BROKEN"));
}
