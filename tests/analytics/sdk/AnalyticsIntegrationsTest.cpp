#include "analytics/AnalyticsConfig.h"
#include "analytics/ApplicationLifecyclePublisher.h"
#include "analytics/AnalyticsLog.h"
#include "analytics/integrations/AnalyticsAppLifeCycleIntegration.h"
#include "analytics/integrations/AnalyticsDeepLinkHelper.h"
#include "analytics/integrations/AnalyticsIntegration.h"
#include "analytics/integrations/AnalyticsScreenViewIntegration.h"
#include "analytics/sdk/AnalyticsSDK.h"
#include "platform/Platform.h"
#include "platform/fake/FakeAppInfo.h"
#include "platform/fake/FakeDefaults.h"
#include "platform/fake/FakePlatform.h"
#include "support/TempHome.h"

#include <QMutex>

#include <gtest/gtest.h>

using namespace analytics;

namespace {

class AnalyticsIntegrationsTest : public ::testing::Test {
protected:
    void SetUp() override { AnalyticsAppLifeCycleIntegration::resetForTesting(); }

    std::shared_ptr<AnalyticsConfig> makeConfig(bool lifecycle, bool screens)
    {
        auto config = std::make_shared<AnalyticsConfig>(QStringLiteral("tok"), QStringLiteral("http://127.0.0.1:9"));
        config->setDisableReachabilityForTesting(true);
        config->setDisableQueueTimerForTesting(true);
        config->setDisableFlushOnBackgroundForTesting(true);
        config->setDisableRemoteConfigForTesting(true);
        config->setCaptureApplicationLifecycleEvents(lifecycle);
        config->setCaptureScreenViews(screens);
        return config;
    }
    // Set up with the integrations held back until the test listens, since
    // installing one may already capture.
    std::shared_ptr<AnalyticsSDK> start(std::shared_ptr<AnalyticsConfig> config)
    {
        const bool lifecycle = config->captureApplicationLifecycleEvents();
        const bool screens = config->captureScreenViews();
        config->setCaptureApplicationLifecycleEvents(false);
        config->setCaptureScreenViews(false);
        auto sdk = AnalyticsSDK::with(config);
        tokens.push_back(sdk->onEventCaptured().subscribe([this](const AnalyticsEvent& event) {
            QMutexLocker lock(&mutex);
            events.append(event);
        }));
        config->setCaptureApplicationLifecycleEvents(lifecycle);
        config->setCaptureScreenViews(screens);
        sdk->uninstallIntegrations();
        sdk->installIntegrations();
        sdks.push_back(sdk);
        return sdk;
    }
    QStringList names()
    {
        QMutexLocker lock(&mutex);
        QStringList list;
        for (const auto& event : events)
            list.append(event.event());
        return list;
    }
    QVariantMap& info() { return platform::fake::as<platform::fake::FakeAppInfo>(guard.platform().appInfo).values; }
    platform::Defaults& defaults() { return *guard.platform().defaults; }
    void TearDown() override
    {
        for (auto& sdk : sdks)
            sdk->close();
    }

    platform::PlatformGuard guard;
    TempHome home;
    std::vector<std::shared_ptr<AnalyticsSDK>> sdks;
    std::vector<std::shared_ptr<RegistrationToken>> tokens;
    QMutex mutex;
    QList<AnalyticsEvent> events;
};

} // namespace

TEST_F(AnalyticsIntegrationsTest, InstallsWhatTheConfigurationAsksForOncePerProcess)
{
    EXPECT_TRUE(getIntegrations(*makeConfig(false, false)).empty());
    const auto both = getIntegrations(*makeConfig(true, true));
    ASSERT_EQ(both.size(), 2u);
    EXPECT_EQ(both[0]->typeName(), "AnalyticsScreenViewIntegration");
    EXPECT_EQ(both[1]->typeName(), "AnalyticsAppLifeCycleIntegration");

    auto noSwizzling = makeConfig(true, true);
    noSwizzling->setEnableSwizzling(false);
    auto first = start(noSwizzling);
    ASSERT_EQ(first->installedIntegrations().size(), 1u) << "screen views need swizzling";
    EXPECT_EQ(first->installedIntegrations()[0]->typeName(), "AnalyticsAppLifeCycleIntegration");

    auto secondConfig = makeConfig(true, true);
    auto second = start(secondConfig);
    ASSERT_EQ(second->installedIntegrations().size(), 1u) << "the lifecycle one is taken by the first SDK";
    EXPECT_EQ(second->installedIntegrations()[0]->typeName(), "AnalyticsScreenViewIntegration");

    first->optOut();
    EXPECT_TRUE(first->installedIntegrations().empty());
    second->uninstallIntegrations();
    second->installIntegrations();
    EXPECT_EQ(second->installedIntegrations().size(), 2u) << "free again once the first one let go";
}

namespace {

// Stands in for the crash integration another library registers: it only
// records what the SDK hands it.
class RecordingIntegration : public AnalyticsIntegration {
public:
    QString typeName() const override { return QStringLiteral("RecordingIntegration"); }
    bool requiresSwizzling() const override { return false; }
    AnalyticsIntegrationInstallResult install(const std::shared_ptr<AnalyticsSDK>&) override
    {
        return AnalyticsIntegrationInstallResult::installed();
    }
    void uninstall(const std::shared_ptr<AnalyticsSDK>&) override {}
    void contextDidChange(const QVariantMap& context) override
    {
        QMutexLocker lock(&mutex);
        distinctIds.append(context.value(QStringLiteral("distinct_id")).toString());
    }
    QStringList seen()
    {
        QMutexLocker lock(&mutex);
        return distinctIds;
    }

private:
    QMutex mutex;
    QStringList distinctIds;
};

struct FactoryRegistration {
    explicit FactoryRegistration(AnalyticsIntegrationFactory factory)
    {
        setErrorTrackingIntegrationFactory(std::move(factory));
    }
    ~FactoryRegistration() { setErrorTrackingIntegrationFactory({}); }
};

} // namespace

TEST_F(AnalyticsIntegrationsTest, TheRegisteredCrashIntegrationComesFirstOnlyWithAutoCapture)
{
    const auto typeNames = [&](bool autoCapture) {
        auto config = makeConfig(true, true);
        config->errorTrackingConfig().setAutoCapture(autoCapture);
        QStringList list;
        for (const auto& integration : getIntegrations(*config))
            list.append(integration->typeName());
        return list;
    };
    const QStringList others{"AnalyticsScreenViewIntegration", "AnalyticsAppLifeCycleIntegration"};
    EXPECT_EQ(typeNames(true), others) << "nothing registered: autoCapture adds nothing";

    std::shared_ptr<RecordingIntegration> made;
    {
        FactoryRegistration registration([&made] { return made = std::make_shared<RecordingIntegration>(); });
        EXPECT_EQ(typeNames(false), others);
        EXPECT_FALSE(made) << "not even made while autoCapture is off";
        EXPECT_EQ(typeNames(true), QStringList{"RecordingIntegration"} + others);

        // The SDK installs it with the others and hands it every new identity.
        auto config = makeConfig(false, false);
        config->errorTrackingConfig().setAutoCapture(true);
        auto sdk = start(config);
        const auto installed = sdk->installedIntegrations();
        ASSERT_EQ(installed.size(), 1u);
        ASSERT_EQ(installed[0], made);
        sdk->identify(QStringLiteral("user-7"));
        ASSERT_FALSE(made->seen().isEmpty());
        EXPECT_EQ(made->seen().last(), "user-7");
    }
    EXPECT_EQ(typeNames(true), others) << "the registration was taken back";
}

TEST_F(AnalyticsIntegrationsTest, InstallOrUpdateFollowsTheStoredBuild)
{
    struct Case {
        const char* name;
        std::optional<QString> storedVersion, storedBuild;
        QString version, build;
        QStringList events;
        QVariantMap properties;
    };
    const Case cases[] = {
        {"first run", std::nullopt, std::nullopt, "1.0", "41", {"Application Installed"}, {{"version", "1.0"}, {"build", 41}}},
        {"same build", "1.0", "41", "1.0", "41", {}, {}},
        {"update", "1.0", "41", "1.1", "42", {"Application Updated"},
         {{"previous_version", "1.0"}, {"previous_build", 41}, {"version", "1.1"}, {"build", 42}}},
        {"dotted build stays text", std::nullopt, "7", "2.0", "1.2.3", {"Application Updated"},
         {{"previous_build", 7}, {"version", "2.0"}, {"build", "1.2.3"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempHome caseHome;
        AnalyticsAppLifeCycleIntegration::resetForTesting();
        for (auto& sdk : sdks)
            sdk->close();
        sdks.clear();
        {
            QMutexLocker lock(&mutex);
            events.clear();
        }
        defaults().remove(AnalyticsAppLifeCycleIntegration::kVersionKey);
        defaults().remove(AnalyticsAppLifeCycleIntegration::kBuildKey);
        if (c.storedVersion)
            defaults().setValue(AnalyticsAppLifeCycleIntegration::kVersionKey, *c.storedVersion);
        if (c.storedBuild)
            defaults().setValue(AnalyticsAppLifeCycleIntegration::kBuildKey, *c.storedBuild);
        info().insert("CFBundleShortVersionString", c.version);
        info().insert("CFBundleVersion", c.build);

        start(makeConfig(true, false));
        ASSERT_EQ(names(), c.events);
        if (!c.events.isEmpty()) {
            QMutexLocker lock(&mutex);
            for (auto it = c.properties.cbegin(); it != c.properties.cend(); ++it) {
                EXPECT_EQ(events[0].properties().value(it.key()), it.value()) << it.key().toStdString();
                EXPECT_EQ(events[0].properties().value(it.key()).typeId() == QMetaType::QString,
                          it.value().typeId() == QMetaType::QString)
                    << it.key().toStdString() << " is a number exactly when the build is one";
            }
        }
        EXPECT_EQ(defaults().value(AnalyticsAppLifeCycleIntegration::kBuildKey), c.build);
    }
}

TEST_F(AnalyticsIntegrationsTest, OpenedAndBackgroundedFollowTheApplicationsActivity)
{
    info().insert("CFBundleShortVersionString", "1.0");
    info().insert("CFBundleVersion", "5");
    defaults().setValue(AnalyticsAppLifeCycleIntegration::kBuildKey, QStringLiteral("5"));
    start(makeConfig(true, false));
    auto& publisher = ApplicationLifecyclePublisher::shared();
    publisher.onDidBecomeActive().invoke();
    publisher.onDidEnterBackground().invoke();
    publisher.onDidEnterBackground().invoke();
    publisher.onDidBecomeActive().invoke();
    publisher.onDidBecomeActive().invoke();

    ASSERT_EQ(names(), QStringList({"Application Opened", "Application Backgrounded", "Application Opened"}));
    QMutexLocker lock(&mutex);
    EXPECT_EQ(events[0].properties().value("from_background"), false);
    EXPECT_EQ(events[0].properties().value("build"), 5);
    EXPECT_EQ(events[2].properties().value("from_background"), true);
    EXPECT_FALSE(events[2].properties().contains("build"));
}

TEST_F(AnalyticsIntegrationsTest, ScreenNamesBecomeScreenEvents)
{
    start(makeConfig(false, true));
    ApplicationScreenViewPublisher::shared().onScreenView().invoke(QStringLiteral("Settings"));
    ASSERT_EQ(names(), QStringList({"$screen"}));
    QMutexLocker lock(&mutex);
    EXPECT_EQ(events[0].properties().value("$screen_name"), "Settings");
}

TEST_F(AnalyticsIntegrationsTest, DeepLinksCarryTheirReferrer)
{
    struct Case {
        const char* name;
        std::optional<QString> referrer;
        QVariantMap expected;
    };
    const Case cases[] = {
        {"no referrer", std::nullopt, {{"url", "vellox://open?x=1"}}},
        {"web referrer", "https://example.test/page",
         {{"url", "vellox://open?x=1"}, {"$referrer", "https://example.test/page"}, {"$referring_domain", "example.test"}}},
        {"referrer that is no URL", "just words", {{"url", "vellox://open?x=1"}, {"$referrer", "just words"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(buildDeepLinkProperties(QUrl("vellox://open?x=1"), c.referrer), c.expected);
    }
    auto sdk = start(makeConfig(false, false));
    sdk->captureDeepLinks({QUrl::fromLocalFile("/tmp/file.txt"), QUrl("https://example.test/x")});
    EXPECT_EQ(names(), QStringList({"Deep Link Opened"}));
}
