#include "analytics/AnalyticsConfig.h"
#include "analytics/AnalyticsLog.h"
#include "analytics/AnalyticsQueue.h"
#include "analytics/AnalyticsSessionManager.h"
#include "analytics/ApplicationLifecyclePublisher.h"
#include "analytics/AnalyticsStorage.h"
#include "analytics/flags/AnalyticsRemoteConfig.h"
#include "analytics/sdk/AnalyticsSDK.h"
#include "IngestionServer.h"
#include "platform/Platform.h"
#include "support/TempHome.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QThread>

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

using namespace analytics;
using Key = AnalyticsStorage::StorageKey;

namespace {

const QString kToken = QStringLiteral("tok");

class AnalyticsSdkTest : public ::testing::Test {
protected:
    std::shared_ptr<AnalyticsConfig> makeConfig()
    {
        auto config = std::make_shared<AnalyticsConfig>(kToken, ingestion.host());
        config->setDisableReachabilityForTesting(true);
        config->setDisableQueueTimerForTesting(true);
        config->setDisableFlushOnBackgroundForTesting(true);
        // As the application has them.
        config->setPreloadFeatureFlags(false);
        config->setCaptureApplicationLifecycleEvents(false);
        config->setCaptureScreenViews(false);
        return config;
    }
    std::shared_ptr<AnalyticsSDK> start(std::shared_ptr<AnalyticsConfig> config)
    {
        sdk = AnalyticsSDK::with(std::move(config));
        captured = sdk->onEventCaptured().subscribe([this](const AnalyticsEvent& event) {
            QMutexLocker lock(&capturedLock);
            events.append(event);
        });
        return sdk;
    }
    std::shared_ptr<AnalyticsSDK> start() { return start(makeConfig()); }
    bool waitForRemoteConfig()
    {
        return ingestion.waitFor([&] { return sdk->remoteConfig()->remoteConfigDidFetch(); });
    }
    QList<AnalyticsEvent> capturedEvents()
    {
        QMutexLocker lock(&capturedLock);
        return events;
    }
    QStringList capturedNames()
    {
        QStringList names;
        for (const auto& event : capturedEvents())
            names.append(event.event());
        return names;
    }
    // Closes the SDK and lets answers still on their way land, so nothing
    // writes into a home folder that is being removed.
    void closeAndSettle()
    {
        if (!sdk)
            return;
        std::weak_ptr<AnalyticsRemoteConfig> remote = sdk->remoteConfig();
        sdk->close();
        sdk.reset();
        EXPECT_TRUE(ingestion.waitFor([&] { return remote.expired(); }));
    }
    void TearDown() override { closeAndSettle(); }

    platform::PlatformGuard guard;
    TempHome home;
    IngestionServer ingestion;
    std::shared_ptr<AnalyticsSDK> sdk;
    std::shared_ptr<RegistrationToken> captured;
    QMutex capturedLock;
    QList<AnalyticsEvent> events;
};

QVariantMap json(const QByteArray& text)
{
    return QJsonDocument::fromJson(text).object().toVariantMap();
}

} // namespace

TEST_F(AnalyticsSdkTest, SetUpFetchesTheRemoteConfigurationAndStoresIt)
{
    ingestion.remoteConfig = R"({"hasFeatureFlags": true, "errorTracking": {"autocaptureExceptions": true}})";
    start();
    ASSERT_TRUE(waitForRemoteConfig());

    const auto requests = ingestion.requestsTo("/array/");
    ASSERT_EQ(requests.size(), 1);
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].target, "/array/tok/config");
    EXPECT_TRUE(sdk->remoteConfig()->autoCaptureExceptions());
    const AnalyticsStorage& storage = *sdk->storage();
    EXPECT_EQ(storage.getJson(Key::remoteConfig)->toMap(), json(ingestion.remoteConfig));
    EXPECT_EQ(storage.getJson(Key::errorTracking)->toMap(), QVariantMap({{"autocaptureExceptions", true}}));
    ingestion.waitFor([] { return false; }, 100);
    EXPECT_TRUE(ingestion.requestsTo("/flags").isEmpty()) << "no flags request without preloading";
}

TEST_F(AnalyticsSdkTest, RemoteConfigurationAnswersDecideTheStoredState)
{
    struct Case {
        const char* name;
        QByteArray answer;
        int status;
        bool autoCapture;
        bool errorTrackingFile;
        bool flagsCleared;
        bool remoteConfigFileIsAnswer;
    };
    const Case cases[] = {
        {"switch on as a Boolean", R"({"errorTracking": true})", 200, true, true, false, true},
        {"switch off deletes its file", R"({"errorTracking": false})", 200, false, false, false, true},
        {"object without the key", R"({"errorTracking": {}})", 200, false, true, false, true},
        {"no flags clears them", R"({"hasFeatureFlags": false})", 200, false, true, true, true},
        {"server error keeps the cache", R"({"error": "x"})", 500, true, true, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempHome caseHome;
        {
            // What an earlier run left behind.
            auto config = makeConfig();
            AnalyticsStorage earlier(*config);
            earlier.setJson(Key::errorTracking, QVariantMap{{"autocaptureExceptions", true}});
            earlier.setJson(Key::remoteConfig, QVariantMap{{"cached", true}});
            earlier.setJson(Key::enabledFeatureFlags, QVariantMap{{"a", true}});
            earlier.setJson(Key::requestId, QStringLiteral("r-0"));
            earlier.setJson(Key::evaluatedAt, 17);
        }
        ingestion.remoteConfig = c.answer;
        ingestion.remoteConfigStatus = c.status;
        QList<std::optional<QVariantMap>> announced;
        start();
        std::shared_ptr<RegistrationToken> flagsLoaded = sdk->remoteConfig()->onFeatureFlagsLoaded().subscribe(
            [&](const std::optional<QVariantMap>& flags) { announced.append(flags); });
        ASSERT_TRUE(waitForRemoteConfig());
        ASSERT_TRUE(ingestion.waitFor([&] { return c.status != 200 || c.flagsCleared ? !announced.isEmpty() : true; }));

        const AnalyticsStorage& storage = *sdk->storage();
        EXPECT_EQ(sdk->remoteConfig()->autoCaptureExceptions(), c.autoCapture);
        EXPECT_EQ(storage.getJson(Key::errorTracking).has_value(), c.errorTrackingFile);
        EXPECT_EQ(storage.getJson(Key::remoteConfig)->toMap() == json(c.answer), c.remoteConfigFileIsAnswer);
        if (c.flagsCleared) {
            EXPECT_EQ(storage.getJson(Key::enabledFeatureFlags)->toMap(), QVariantMap());
            EXPECT_FALSE(storage.getJson(Key::requestId));
            EXPECT_FALSE(storage.getJson(Key::evaluatedAt));
            ASSERT_EQ(announced.size(), 1);
            EXPECT_EQ(announced[0], QVariantMap());
        } else {
            EXPECT_EQ(storage.getJson(Key::enabledFeatureFlags)->toMap(), QVariantMap({{"a", true}}));
        }
        if (c.status != 200) {
            ASSERT_EQ(announced.size(), 1);
            EXPECT_FALSE(announced[0]) << "a failed fetch announces no flags";
        }
        closeAndSettle();
    }
}

TEST_F(AnalyticsSdkTest, FlagsRequestCarriesIdentityAndPropertiesAndDefersWhileOneIsInFlight)
{
    ingestion.flagsGate = std::make_shared<LoopbackHttpServer::Gate>();
    ingestion.flags = R"({"flags": {"beta": {"variant": "b", "enabled": true}}, "requestId": "r-1"})";
    start();
    ASSERT_TRUE(waitForRemoteConfig());
    sdk->group(QStringLiteral("company"), QStringLiteral("acme"), QVariantMap{{"plan", "pro"}});
    ASSERT_TRUE(ingestion.waitFor([&] { return ingestion.requestsTo("/flags").size() == 1; }))
        << "a new group reloads the flags";

    sdk->setPersonPropertiesForFlags(QVariantMap{{"$os_name", "Custom OS"}, {"tier", "gold"}}, false);
    std::optional<QVariantMap> secondResult;
    bool secondCalled = false;
    bool thirdCalled = false;
    auto remote = sdk->remoteConfig();
    remote->reloadFeatureFlags([&](const std::optional<QVariantMap>& flags) {
        secondCalled = true;
        secondResult = flags;
    });
    EXPECT_FALSE(secondCalled) << "waits behind the request in flight";
    remote->reloadFeatureFlags([&](const std::optional<QVariantMap>&) { thirdCalled = true; });
    EXPECT_TRUE(secondCalled) << "a newer reload releases the waiting one with the cached flags";
    EXPECT_FALSE(secondResult.has_value()) << "nothing cached yet";
    ingestion.waitFor([] { return false; }, 100);
    EXPECT_EQ(ingestion.requestsTo("/flags").size(), 1);

    ingestion.flagsGate->open();
    ASSERT_TRUE(ingestion.waitFor([&] { return thirdCalled; }));
    const auto requests = ingestion.requestsTo("/flags");
    ASSERT_EQ(requests.size(), 2) << "the waiting reload goes once the first answer is in";
    EXPECT_EQ(requests[1].target, "/flags?v=2");

    const QVariantMap body = json(requests[1].body);
    EXPECT_EQ(body.value("api_key"), "tok");
    EXPECT_EQ(body.value("distinct_id"), sdk->getDistinctId());
    EXPECT_EQ(body.value("$anon_distinct_id"), sdk->getAnonymousId());
    EXPECT_EQ(body.value("$device_id"), sdk->getDeviceId());
    EXPECT_EQ(body.value("groups").toMap(), QVariantMap({{"company", "acme"}}));
    EXPECT_EQ(body.value("group_properties").toMap(), QVariantMap({{"company", QVariantMap{{"plan", "pro"}}}}));
    const QVariantMap person = body.value("person_properties").toMap();
    EXPECT_EQ(person.value("tier"), "gold");
    EXPECT_EQ(person.value("$os_name"), "Custom OS") << "an explicitly set value wins over the default";
    EXPECT_TRUE(person.contains("$app_version") || person.contains("$os_version")) << "default person properties";

    EXPECT_TRUE(sdk->isFeatureEnabled("beta"));
    EXPECT_EQ(sdk->getFeatureFlag("beta"), QVariant("b"));
    EXPECT_EQ(sdk->storage()->getString(Key::requestId), QStringLiteral("r-1"));
}

TEST_F(AnalyticsSdkTest, IdentifyAndResetChangeWhatTheFlagsRequestSends)
{
    auto config = makeConfig();
    start(config);
    ASSERT_TRUE(waitForRemoteConfig());
    const QString anonymous = sdk->getAnonymousId();
    sdk->identify(QStringLiteral("user-7"));
    ASSERT_TRUE(ingestion.waitFor([&] { return ingestion.requestsTo("/flags").size() == 1; }));
    QVariantMap body = json(ingestion.requestsTo("/flags")[0].body);
    EXPECT_EQ(body.value("distinct_id"), "user-7");
    EXPECT_EQ(body.value("$anon_distinct_id"), anonymous);

    sdk->reset();
    ASSERT_TRUE(ingestion.waitFor([&] { return ingestion.requestsTo("/flags").size() == 2; }));
    body = json(ingestion.requestsTo("/flags")[1].body);
    EXPECT_NE(body.value("distinct_id"), "user-7");
    EXPECT_EQ(body.value("distinct_id"), body.value("$anon_distinct_id")) << "a fresh anonymous user";
    EXPECT_NE(body.value("$anon_distinct_id"), anonymous);
}

TEST_F(AnalyticsSdkTest, CapturedEventArrivesWithContextIdentitySessionSuperPropertiesAndGroups)
{
    start();
    sdk->registerProperties(QVariantMap{{"plan", "pro"}, {"$os_name", "Shadow"}});
    sdk->group(QStringLiteral("company"), QStringLiteral("acme"));
    sdk->capture(QStringLiteral("rewrite_success"),
                 QVariantMap{{"trigger", "hotkey"}, {"$lib", "mine"}, {"provider", "gemini"}});
    sdk->flush();
    ASSERT_TRUE(ingestion.waitFor([&] {
        for (const auto& event : ingestion.events())
            if (event.value("event") == "rewrite_success")
                return true;
        return false;
    }));

    QVariantMap event;
    for (const auto& e : ingestion.events())
        if (e.value("event") == "rewrite_success")
            event = e;
    EXPECT_EQ(event.value("distinct_id"), sdk->getAnonymousId());
    EXPECT_EQ(event.value("uuid").toString().size(), 36);
    EXPECT_EQ(event.value("uuid").toString().at(14), QChar('7')) << "a time-ordered id";
    const QVariantMap properties = event.value("properties").toMap();
    EXPECT_EQ(properties.value("trigger"), "hotkey");
    EXPECT_EQ(properties.value("provider"), "gemini");
    EXPECT_NE(properties.value("$lib"), "mine") << "a caller cannot override the library";
    EXPECT_FALSE(properties.value("$lib").toString().isEmpty());
    EXPECT_FALSE(properties.value("$lib_version").toString().isEmpty());
    EXPECT_FALSE(properties.value("$os_name").toString().isEmpty());
    EXPECT_NE(properties.value("$os_name"), "Shadow") << "the context wins over a super property";
    EXPECT_EQ(properties.value("plan"), "pro");
    EXPECT_EQ(properties.value("$groups").toMap(), QVariantMap({{"company", "acme"}}));
    EXPECT_EQ(properties.value("$is_identified"), false);
    EXPECT_TRUE(properties.contains("$process_person_profile"));
    EXPECT_EQ(properties.value("$session_id"), sdk->getSessionId().value_or(QString()));
    EXPECT_FALSE(properties.value("$session_id").toString().isEmpty());
}

TEST_F(AnalyticsSdkTest, IdentityRules)
{
    struct Case {
        const char* name;
        bool reuseAnonymousId;
        std::function<void(AnalyticsSDK&)> act;
        QStringList events;
        std::function<void(AnalyticsSDK&, const QList<AnalyticsEvent>&, const QString& anonymousBefore)> check;
    };
    const Case cases[] = {
        {"identify a new user", false, [](AnalyticsSDK& s) { s.identify("u1"); }, {"$identify"},
         [](AnalyticsSDK& s, const QList<AnalyticsEvent>& e, const QString& anon) {
             EXPECT_EQ(e[0].properties().value("distinct_id"), "u1");
             EXPECT_EQ(e[0].properties().value("$anon_distinct_id"), anon);
             EXPECT_EQ(s.getDistinctId(), "u1");
         }},
        {"identify keeping the anonymous id", true, [](AnalyticsSDK& s) { s.identify("u1"); }, {"$identify"},
         [](AnalyticsSDK& s, const QList<AnalyticsEvent>& e, const QString& anon) {
             EXPECT_FALSE(e[0].properties().contains("$anon_distinct_id"));
             EXPECT_EQ(s.getAnonymousId(), anon);
         }},
        {"another id while identified", false,
         [](AnalyticsSDK& s) {
             s.identify("u1");
             s.identify("u2");
         },
         {"$identify"}, [](AnalyticsSDK& s, const auto&, const auto&) { EXPECT_EQ(s.getDistinctId(), "u1"); }},
        {"same id with properties, repeated, then changed", false,
         [](AnalyticsSDK& s) {
             s.identify("u1");
             s.identify("u1", QVariantMap{{"a", 1}});
             s.identify("u1", QVariantMap{{"a", 1}});
             s.identify("u1", QVariantMap{{"a", 2}});
         },
         {"$identify", "$set", "$set"},
         [](AnalyticsSDK&, const QList<AnalyticsEvent>& e, const auto&) {
             EXPECT_EQ(e[1].properties().value("$set").toMap(), QVariantMap({{"a", 1}}));
         }},
        {"empty id", false, [](AnalyticsSDK& s) { s.identify(""); }, {},
         [](AnalyticsSDK& s, const auto&, const QString& anon) { EXPECT_EQ(s.getDistinctId(), anon); }},
        {"opted out", false,
         [](AnalyticsSDK& s) {
             s.optOut();
             s.identify("u1");
             s.capture("ignored");
         },
         {}, [](AnalyticsSDK& s, const auto&, const QString& anon) { EXPECT_EQ(s.getDistinctId(), anon); }},
        {"reset starts a new anonymous user", false,
         [](AnalyticsSDK& s) {
             s.registerProperties(QVariantMap{{"plan", "pro"}});
             s.identify("u1");
             s.reset();
             s.identify("u2");
         },
         {"$identify", "$identify"},
         [](AnalyticsSDK& s, const QList<AnalyticsEvent>& e, const QString& anon) {
             EXPECT_NE(e[1].properties().value("$anon_distinct_id"), anon);
             EXPECT_NE(e[1].properties().value("$anon_distinct_id"), "u1");
             EXPECT_FALSE(e[1].properties().contains("plan")) << "super properties are gone";
             EXPECT_EQ(s.getDeviceId(), anon) << "the device id survives";
         }},
        {"reset keeping the anonymous id", true,
         [](AnalyticsSDK& s) {
             s.identify("u1");
             s.reset();
         },
         {"$identify"},
         [](AnalyticsSDK& s, const auto&, const QString& anon) {
             EXPECT_EQ(s.getAnonymousId(), anon);
             EXPECT_EQ(s.getDistinctId(), anon);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempHome caseHome;
        auto config = makeConfig();
        config->setReuseAnonymousId(c.reuseAnonymousId);
        config->setDisableRemoteConfigForTesting(true);
        {
            QMutexLocker lock(&capturedLock);
            events.clear();
        }
        start(config);
        sdk->remoteConfig()->setCanReloadFlagsForTesting(false);
        const QString anonymous = sdk->getAnonymousId();
        c.act(*sdk);
        EXPECT_EQ(capturedNames(), c.events);
        if (capturedNames() == c.events)
            c.check(*sdk, capturedEvents(), anonymous);
        closeAndSettle();
    }
}

TEST_F(AnalyticsSdkTest, ResetKeepsTheSessionFollowingTheApplication)
{
    auto config = makeConfig();
    config->setDisableRemoteConfigForTesting(true);
    start(config);
    const auto before = sdk->getSessionId();
    sdk->reset();
    const auto after = sdk->getSessionId();
    ASSERT_TRUE(after);
    EXPECT_NE(before, after);
    auto& publisher = DI::main().appLifecyclePublisher();
    publisher.onDidBecomeActive().invoke();
    EXPECT_FALSE(sdk->sessionManager()->isAppInBackground()) << "the new session still hears the application";
    publisher.onDidEnterBackground().invoke();
    EXPECT_TRUE(sdk->sessionManager()->isAppInBackground());
}

TEST_F(AnalyticsSdkTest, FlagCallIsReportedOncePerValue)
{
    auto config = makeConfig();
    config->setDisableRemoteConfigForTesting(true);
    {
        AnalyticsStorage earlier(*config);
        earlier.setJson(Key::enabledFeatureFlags, QVariantMap{{"color", "red"}, {"on", true}});
        earlier.setJson(Key::flags, QVariantMap{{"color", QVariantMap{{"reason", QVariantMap{{"description", "matched"}}},
                                                                      {"metadata", QVariantMap{{"id", 4}}}}}});
    }
    start(config);
    sdk->remoteConfig()->setCanReloadFlagsForTesting(false);

    EXPECT_EQ(sdk->getFeatureFlag("color"), QVariant("red"));
    EXPECT_EQ(sdk->getFeatureFlag("color"), QVariant("red"));
    EXPECT_FALSE(sdk->isFeatureEnabled("unknown"));
    EXPECT_FALSE(sdk->getFeatureFlagPayload("on").has_value());
    EXPECT_FALSE(sdk->getFeatureFlag("on", false).has_value() == false);

    const auto captured = capturedEvents();
    ASSERT_EQ(captured.size(), 2) << capturedNames().join(",").toStdString();
    EXPECT_EQ(captured[0].event(), "$feature_flag_called");
    const QVariantMap first = captured[0].properties();
    EXPECT_EQ(first.value("$feature_flag"), "color");
    EXPECT_EQ(first.value("$feature_flag_response"), "red");
    EXPECT_EQ(first.value("$feature_flag_request_id"), "");
    EXPECT_EQ(first.value("$feature_flag_reason"), "matched");
    EXPECT_EQ(first.value("$feature_flag_id"), 4);
    EXPECT_TRUE(first.value("$feature_flag_version").isNull());
    EXPECT_EQ(first.value("$feature/color"), "red") << "events carry the cached flags";
    const QVariantMap unknown = captured[1].properties();
    EXPECT_EQ(unknown.value("$feature_flag"), "unknown");
    EXPECT_TRUE(unknown.value("$feature_flag_response").isNull());
    EXPECT_FALSE(unknown.contains("$feature_flag_reason"));
}

TEST_F(AnalyticsSdkTest, NothingHappensBeforeSetUpOrAfterClose)
{
    auto config = makeConfig();
    std::shared_ptr<AnalyticsSDK> idle = AnalyticsSDK::shared();
    ASSERT_FALSE(idle->isEnabled());
    EXPECT_EQ(idle->getDistinctId(), "");
    EXPECT_FALSE(idle->getSessionId());
    EXPECT_TRUE(idle->isOptOut());

    config->setDisableRemoteConfigForTesting(true);
    start(config);
    sdk->close();
    sdk->capture(QStringLiteral("after_close"));
    EXPECT_TRUE(capturedNames().isEmpty());
    EXPECT_EQ(sdk->getDistinctId(), "");
}

TEST_F(AnalyticsSdkTest, SuperPropertiesAndGroupsComeFromMemoryAndAreWrittenThrough)
{
    auto config = makeConfig();
    config->setDisableRemoteConfigForTesting(true);
    start(config);
    sdk->remoteConfig()->setCanReloadFlagsForTesting(false);
    sdk->registerProperties(QVariantMap{{"plan", "pro"}});
    sdk->group(QStringLiteral("company"), QStringLiteral("acme"));
    AnalyticsStorage& storage = *sdk->storage();
    EXPECT_EQ(storage.getJson(Key::registerProperties)->toMap(), QVariantMap({{"plan", "pro"}}));
    EXPECT_EQ(storage.getJson(Key::groups)->toMap(), QVariantMap({{"company", "acme"}}));

    // Events no longer look at the files once the values are known.
    storage.setJson(Key::registerProperties, QVariantMap{{"plan", "changed on disk"}});
    storage.setData(Key::groups, std::nullopt);
    sdk->capture(QStringLiteral("after"));
    ASSERT_EQ(capturedNames().last(), "after");
    const QVariantMap properties = capturedEvents().last().properties();
    EXPECT_EQ(properties.value("plan"), "pro");
    EXPECT_EQ(properties.value("$groups").toMap(), QVariantMap({{"company", "acme"}}));

    sdk->unregisterProperties(QStringLiteral("plan"));
    EXPECT_EQ(storage.getJson(Key::registerProperties)->toMap(), QVariantMap());
    sdk->capture(QStringLiteral("unregistered"));
    EXPECT_FALSE(capturedEvents().last().properties().contains("plan"));
}

TEST_F(AnalyticsSdkTest, CapturePropertyRules)
{
    struct Case {
        const char* name;
        AnalyticsPersonProfiles profiles;
        std::function<void(AnalyticsSDK&)> capture;
        std::function<void(const QVariantMap&)> check;
    };
    const Case cases[] = {
        {"a caller's session id is kept", AnalyticsPersonProfiles::identifiedOnly,
         [](AnalyticsSDK& s) { s.capture("e", QVariantMap{{"$session_id", "mine"}}); },
         [](const QVariantMap& p) { EXPECT_EQ(p.value("$session_id"), "mine"); }},
        {"an empty one is replaced", AnalyticsPersonProfiles::identifiedOnly,
         [](AnalyticsSDK& s) { s.capture("e", QVariantMap{{"$session_id", ""}}); },
         [](const QVariantMap& p) { EXPECT_FALSE(p.value("$session_id").toString().isEmpty()); }},
        {"person properties set and set once", AnalyticsPersonProfiles::identifiedOnly,
         [](AnalyticsSDK& s) {
             s.capture("e", QVariantMap{{"$set", "caller"}}, QVariantMap{{"name", "Ada"}}, QVariantMap{{"first", 1}});
         },
         [](const QVariantMap& p) {
             EXPECT_EQ(p.value("$set").toMap(), QVariantMap({{"name", "Ada"}}));
             EXPECT_EQ(p.value("$set_once").toMap(), QVariantMap({{"first", 1}}));
             EXPECT_EQ(p.value("$process_person_profile"), true) << "asking for person properties turns it on";
         }},
        {"never processes the person but still captures", AnalyticsPersonProfiles::never,
         [](AnalyticsSDK& s) { s.capture("e", std::nullopt, QVariantMap{{"name", "Ada"}}); },
         [](const QVariantMap& p) { EXPECT_EQ(p.value("$process_person_profile"), false); }},
        {"values that cannot be sent are dropped", AnalyticsPersonProfiles::identifiedOnly,
         [](AnalyticsSDK& s) {
             s.capture("e", QVariantMap{{"nan", std::nan("")}, {"url", QUrl("https://example.test/a")}, {"ok", 1}});
         },
         [](const QVariantMap& p) {
             EXPECT_FALSE(p.contains("nan"));
             EXPECT_EQ(p.value("url"), "https://example.test/a");
             EXPECT_EQ(p.value("ok"), 1);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempHome caseHome;
        auto config = makeConfig();
        config->setDisableRemoteConfigForTesting(true);
        config->setPersonProfiles(c.profiles);
        {
            QMutexLocker lock(&capturedLock);
            events.clear();
        }
        start(config);
        c.capture(*sdk);
        ASSERT_EQ(capturedNames(), QStringList({"e"}));
        c.check(capturedEvents()[0].properties());
        closeAndSettle();
    }
}

TEST_F(AnalyticsSdkTest, BeforeSendHooksEditOrDropEvents)
{
    auto config = makeConfig();
    config->setDisableRemoteConfigForTesting(true);
    config->setBeforeSend({[](AnalyticsEvent event) -> std::optional<AnalyticsEvent> {
                               if (event.event() == "drop_me")
                                   return std::nullopt;
                               event.properties().insert("edited", true);
                               return event;
                           },
                           [](AnalyticsEvent event) -> std::optional<AnalyticsEvent> {
                               if (event.event() == "to_snapshot")
                                   event.setEvent("$snapshot");
                               return event;
                           }});
    QStringList lines;
    setAnalyticsLogSink([&](const QString& line) { lines.append(line); });
    config->setDebug(true);
    start(config);
    sdk->capture(QStringLiteral("kept"));
    sdk->capture(QStringLiteral("drop_me"));
    sdk->capture(QStringLiteral("to_snapshot"));
    setAnalyticsLogSink({});
    debugLogEnabled = false;

    const auto captured = capturedEvents();
    ASSERT_EQ(capturedNames(), QStringList({"kept", "$snapshot"}))
        << "a renamed snapshot goes to the replay queue, since the session manager stamped it";
    EXPECT_EQ(captured[0].properties().value("edited"), true);
    EXPECT_TRUE(lines.contains("[Analytics] Analytics event drop_me was dropped"));
    EXPECT_EQ(sdk->queue()->depth(), 1) << "the snapshot is not in the event queue";
}

TEST_F(AnalyticsSdkTest, FeatureViewsCarryTheFlagAndSetThePersonProperty)
{
    auto config = makeConfig();
    config->setDisableRemoteConfigForTesting(true);
    {
        AnalyticsStorage earlier(*config);
        earlier.setJson(Key::enabledFeatureFlags, QVariantMap{{"on", true}, {"color", "red"}});
    }
    start(config);
    sdk->remoteConfig()->setCanReloadFlagsForTesting(false);
    sdk->captureFeatureView(QStringLiteral("on"));
    sdk->captureFeatureInteraction(QStringLiteral("color"));
    sdk->captureFeatureView(QStringLiteral("unknown"));

    const auto captured = capturedEvents();
    ASSERT_EQ(capturedNames(), QStringList({"$feature_view", "$feature_interaction"}));
    EXPECT_EQ(captured[0].properties().value("feature_flag"), "on");
    EXPECT_FALSE(captured[0].properties().contains("feature_flag_variant")) << "a Boolean is no variant";
    EXPECT_EQ(captured[0].properties().value("$set").toMap(), QVariantMap({{"$feature_view/on", true}}));
    EXPECT_EQ(captured[1].properties().value("feature_flag_variant"), "red");
    EXPECT_EQ(captured[1].properties().value("$set").toMap(), QVariantMap({{"$feature_interaction/color", "red"}}));

    const QVariantMap forFlags = sdk->remoteConfig()->personPropertiesForFlags();
    EXPECT_EQ(forFlags.value("$feature_view/on"), true) << "person properties also go to flag evaluation";
    sdk->setPersonPropertiesForFlags(QVariantMap{{"bad", std::nan("")}});
    EXPECT_EQ(sdk->remoteConfig()->personPropertiesForFlags(), forFlags) << "nothing left to store";
}

TEST_F(AnalyticsSdkTest, FlagCallIsReportedAgainOnlyForAValueNotSeenBefore)
{
    auto config = makeConfig();
    config->setSendFeatureFlagEvent(true);
    start(config);
    ASSERT_TRUE(waitForRemoteConfig());
    const auto loadFlags = [&](const QByteArray& answer) {
        ingestion.flags = answer;
        std::atomic<bool> loaded = false;
        sdk->reloadFeatureFlags([&] { loaded = true; });
        return ingestion.waitFor([&] { return loaded.load(); });
    };
    struct Step {
        QByteArray answer;
        int reportsAfter;
    };
    const Step steps[] = {
        {R"({"featureFlags": {"color": "red"}, "featureFlagPayloads": {}, "requestId": "r-1"})", 1},
        {R"({"featureFlags": {"color": "red"}, "featureFlagPayloads": {}})", 1},
        {R"({"featureFlags": {"color": "blue"}, "featureFlagPayloads": {}})", 2},
        {R"({"featureFlags": {"color": "red"}, "featureFlagPayloads": {}})", 2},
        {R"({"featureFlags": {"color": false}, "featureFlagPayloads": {}})", 3},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.answer.constData());
        ASSERT_TRUE(loadFlags(step.answer));
        (void)sdk->getFeatureFlag("color");
        EXPECT_EQ(capturedNames().count("$feature_flag_called"), step.reportsAfter);
    }
    const auto first = capturedEvents()[0].properties();
    EXPECT_EQ(first.value("$feature_flag_request_id"), "r-1");

    sdk->reset();
    (void)sdk->getFeatureFlag("color");
    EXPECT_EQ(capturedNames().count("$feature_flag_called"), 4) << "a reset forgets what was reported";
}

TEST_F(AnalyticsSdkTest, SecondSetUpOnlyChangesTheDebugSwitchAndASecondObjectSharesTheToken)
{
    QStringList lines;
    setAnalyticsLogSink([&](const QString& line) { lines.append(line); });
    auto config = makeConfig();
    config->setDisableRemoteConfigForTesting(true);
    start(config);
    const QString anonymous = sdk->getAnonymousId();

    auto again = makeConfig();
    again->setDebug(true);
    sdk->setup(again);
    EXPECT_TRUE(debugLogEnabled);
    EXPECT_TRUE(lines.contains("[Analytics] Setup called despite already being setup!"));
    EXPECT_EQ(sdk->config(), config) << "the first configuration stays";

    auto secondConfig = makeConfig();
    secondConfig->setDebug(true);
    secondConfig->setDisableRemoteConfigForTesting(true);
    auto second = AnalyticsSDK::with(secondConfig);
    EXPECT_TRUE(lines.contains("[Analytics] Project token: tok already has a Analytics instance."));
    EXPECT_TRUE(second->isEnabled());
    EXPECT_EQ(second->getAnonymousId(), anonymous) << "the same project's identity";
    second->close();
    setAnalyticsLogSink({});
    debugLogEnabled = false;
}
