#include "analytics/AnalyticsConfig.h"

#include "AnalyticsTestSupport.h"
#include "platform/Platform.h"
#include "platform/fake/FakeAppInfo.h"
#include "platform/fake/FakePlatform.h"

#include <gtest/gtest.h>

using namespace analytics;

TEST(AnalyticsConfigTest, FreshConfigurationHasTheDocumentedDefaults)
{
    platform::PlatformGuard guard;
    const AnalyticsConfig c(QStringLiteral("token"));
    EXPECT_EQ(c.flushAt(), 20);
    EXPECT_EQ(c.maxQueueSize(), 1000);
    EXPECT_EQ(c.maxBatchSize(), 50);
    EXPECT_EQ(c.flushIntervalSeconds(), 30.0);
    EXPECT_EQ(static_cast<int>(c.dataMode()), 2);
    EXPECT_EQ(static_cast<int>(c.personProfiles()), 2);
    EXPECT_EQ(c.snapshotEndpoint(), "/s/");
    for (bool on : {c.sendFeatureFlagEvent(), c.preloadFeatureFlags(), c.captureApplicationLifecycleEvents(),
                    c.captureScreenViews(), c.enableSwizzling(), c.setDefaultPersonProperties(), c.surveys(),
                    c.remoteConfig()})
        EXPECT_TRUE(on);
    for (bool off : {c.debug(), c.optOut(), c.reuseAnonymousId(), c.disableReachabilityForTesting(),
                     c.disableQueueTimerForTesting(), c.disableFlushOnBackgroundForTesting(),
                     c.disableRemoteConfigForTesting(), c.errorTrackingConfig().autoCapture()})
        EXPECT_FALSE(off);
    EXPECT_FALSE(c.evaluationContexts().has_value());
    EXPECT_FALSE(c.appGroupIdentifier().has_value());
    EXPECT_FALSE(c.propertiesSanitizer());
    EXPECT_FALSE(c.storageManager());
    const QUuid id = QUuid::createUuid();
    EXPECT_EQ(c.getAnonymousId()(id), id);
    EXPECT_EQ(QString::fromLatin1(AnalyticsConfig::kDefaultHost).size(), 24);
    EXPECT_EQ(QString::fromLatin1(AnalyticsConfig::kEuHost).size(), 24);
}

TEST(AnalyticsConfigTest, TrimsTheTokenAndFallsBackToTheDefaultHost)
{
    struct Case {
        const char* name;
        QString token;
        std::optional<QString> host;
        QString expectedToken;
        QString expectedHost;
    };
    const QString def = AnalyticsConfig::defaultHost();
    const Case cases[] = {
        {"blanks and newline around the token", " \tabc \n", std::nullopt, "abc", def},
        {"token of blanks", "   \n", std::nullopt, "", def},
        {"empty host", "t", QString(""), "t", def},
        {"blank host", "t", QString("  \n"), "t", def},
        {"host URL parsing rejects", "t", QString("https://exa mple.test"), "t", def},
        {"host without a scheme", "t", QString("analytics.example"), "t", def},
        {"valid host between blanks", "t", QString("  https://eu.example/ingest \n"), "t", "https://eu.example/ingest"},
    };
    platform::PlatformGuard guard;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const AnalyticsConfig config = c.host ? AnalyticsConfig(c.token, *c.host) : AnalyticsConfig(c.token);
        EXPECT_EQ(config.projectToken(), c.expectedToken);
        EXPECT_EQ(config.host().toString(), c.expectedHost);
    }
}

TEST(AnalyticsConfigTest, DeprecatedMembersOnlyLogAndAlias)
{
    platform::PlatformGuard guard;
    AnalyticsLogRecorder log;
    const auto config = AnalyticsConfig::withApiKey(QStringLiteral(" key "), QStringLiteral("https://h.example"));
    EXPECT_EQ(config->projectToken(), "key");
    EXPECT_EQ(config->host().toString(), "https://h.example");
    EXPECT_EQ(config->apiKey(), "key");
    EXPECT_EQ(log.count("[Analytics] apiKey is deprecated and will be removed in the next major version. Use "
                        "projectToken instead."),
              2);

    config->setRemoteConfig(false);
    EXPECT_TRUE(config->remoteConfig());
    EXPECT_TRUE(log.contains("[Analytics] remoteConfig is deprecated and is now always enabled. Setting it to false "
                             "has no effect."));

    config->setEvaluationEnvironments(QStringList{"web"});
    EXPECT_EQ(config->evaluationContexts(), QStringList{"web"});
    EXPECT_TRUE(log.contains("[Analytics] evaluationEnvironments is deprecated. Use evaluationContexts instead."));
    log.clear();
    config->setEvaluationEnvironments(std::nullopt);
    EXPECT_TRUE(log.lines().isEmpty());

    AnalyticsConfig blank(QStringLiteral(" "));
    EXPECT_TRUE(log.contains("[Analytics] Either projectToken or apiKey must be provided."));
}

TEST(AnalyticsConfigTest, BeforeSendChainStopsAtTheFirstDrop)
{
    platform::PlatformGuard guard;
    AnalyticsConfig config(QStringLiteral("t"));
    const AnalyticsEvent event("e", "id", {}, QDateTime::currentDateTimeUtc(), QUuid::createUuid());
    EXPECT_EQ(config.beforeSend(event), event) << "no hooks pass the event through";

    QStringList called;
    config.setBeforeSend({
        [&](AnalyticsEvent e) -> std::optional<AnalyticsEvent> {
            called << "A";
            e.setEvent("renamed");
            return e;
        },
        [&](AnalyticsEvent e) -> std::optional<AnalyticsEvent> {
            called << "B:" + e.event();
            return std::nullopt;
        },
        [&](AnalyticsEvent e) -> std::optional<AnalyticsEvent> {
            called << "C";
            return e;
        },
    });
    EXPECT_FALSE(config.beforeSend(event).has_value());
    EXPECT_EQ(called, QStringList({"A", "B:renamed"}));

    config.setBeforeSend(std::vector<std::shared_ptr<BoxedBeforeSendBlock>>{
        std::make_shared<BoxedBeforeSendBlock>([](AnalyticsEvent e) -> std::optional<AnalyticsEvent> {
            e.setDistinctId("boxed");
            return e;
        })});
    EXPECT_EQ(config.beforeSend(event)->distinctId(), "boxed") << "a new chain replaces the old one";
}

TEST(AnalyticsConfigTest, RawEnumerationsRefuseUnknownValues)
{
    EXPECT_EQ(analyticsDataMode(0), AnalyticsDataMode::wifiOnly);
    EXPECT_FALSE(analyticsDataMode(3));
    EXPECT_EQ(analyticsPersonProfiles(1), AnalyticsPersonProfiles::always);
    EXPECT_FALSE(analyticsPersonProfiles(-1));
    EXPECT_EQ(knownUnsafeEditableEvent("$screen"), AnalyticsKnownUnsafeEditableEvent::screen);
    EXPECT_EQ(knownUnsafeEditableEvent("$feature_flag_called"), AnalyticsKnownUnsafeEditableEvent::featureFlagCalled);
    EXPECT_FALSE(knownUnsafeEditableEvent("app_installed"));
}

TEST(AnalyticsErrorTrackingConfigTest, DefaultIncludesComeFromTheInformationFile)
{
    struct Case {
        const char* name;
        QVariantMap info;
        QStringList expected;
    };
    const Case cases[] = {
        {"identifier and executable", {{"CFBundleIdentifier", "app.x"}, {"CFBundleExecutable", "x"}}, {"app.x", "x"}},
        {"no executable", {{"CFBundleIdentifier", "app.x"}}, {"app.x"}},
        {"nothing", {}, {"app.vellox.analytics.unknown"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        platform::PlatformGuard guard;
        platform::fake::as<platform::fake::FakeAppInfo>(guard.platform().appInfo).values = c.info;
        EXPECT_EQ(AnalyticsErrorTrackingConfig().inAppIncludes(), c.expected);
    }
}

TEST(AnalyticsErrorTrackingConfigTest, InAppVerdictFollowsTheRulesInOrder)
{
    platform::PlatformGuard guard;
    AnalyticsErrorTrackingConfig config;
    config.setInAppIncludes({"Vellox", "Foundation"});
    config.setInAppExcludes({"VelloxHelpers", "libthird"});
    struct Case {
        const char* name;
        std::optional<QString> module; // crash frame
        QString path; // live frame
        bool byDefault;
        bool crash;
        bool live;
    };
    const Case cases[] = {
        {"no module or path", std::nullopt, "", true, false, false},
        {"include beats exclude", "VelloxHelpers", "/opt/VelloxHelpers", true, true, true},
        {"include beats system prefix", "Foundation", "/opt/Foundation", true, true, true},
        {"exclude", "libthird.so", "/opt/libthird.so", true, false, false},
        {"system prefix", "libswiftCore", "/opt/libswiftCore", true, false, false},
        {"system path", "libc.so.6", "/usr/lib/x86_64-linux-gnu/libc.so.6", true, true, false},
        {"undecided, default on", "mylib.so", "/opt/mylib.so", true, true, true},
        {"undecided, default off", "mylib.so", "/opt/mylib.so", false, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        config.setInAppByDefault(c.byDefault);
        EXPECT_EQ(config.isInAppCrashFrame(c.module), c.crash);
        EXPECT_EQ(config.isInAppLiveFrame(c.path), c.live);
    }
    config.setInAppIncludes({""});
    EXPECT_TRUE(config.isInAppCrashFrame(QStringLiteral("dyld"))) << "an empty include matches every module";
}
