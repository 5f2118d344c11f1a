// Handled errors sent as "$exception" events: what a thrown exception and a
// named exception become, and the event that reaches a server on 127.0.0.1.
#include "analytics/AnalyticsConfig.h"
#include "analytics/AnalyticsLog.h"
#include "analytics/sdk/AnalyticsSDK.h"
#include "analytics/sdk/IngestionServer.h"
#include "crash-reporting/error-tracking/AnalyticsDebugImageProvider.h"
#include "crash-reporting/error-tracking/AnalyticsExceptionCapture.h"
#include "crash-reporting/error-tracking/AnalyticsExceptionProcessor.h"
#include "crash-reporting/error-tracking/AnalyticsStackTraceProcessor.h"
#include "platform/Platform.h"
#include "support/TempHome.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <execinfo.h>
#include <unistd.h>

#include <stdexcept>
#include <system_error>

using namespace analytics;
namespace processor = analytics::AnalyticsExceptionProcessor;

namespace vellox::store {
struct StoreError : std::runtime_error {
    using std::runtime_error::runtime_error;
};
} // namespace vellox::store

namespace {

std::exception_ptr nestedFailure()
{
    try {
        try {
            throw std::system_error(std::make_error_code(std::errc::no_such_file_or_directory), "open settings");
        } catch (...) {
            std::throw_with_nested(vellox::store::StoreError("settings could not be saved"));
        }
    } catch (...) {
        return std::current_exception();
    }
    return nullptr;
}

AnalyticsErrorTrackingConfig programConfig()
{
    AnalyticsErrorTrackingConfig config;
    config.setInAppIncludes({QCoreApplication::applicationFilePath().section('/', -1)});
    return config;
}

QVariantList framesOf(const QVariantMap& entry)
{
    return entry.value("stacktrace").toMap().value("frames").toList();
}

std::shared_ptr<AnalyticsConfig> loopbackConfig(const QString& host)
{
    auto config = std::make_shared<AnalyticsConfig>(QStringLiteral("tok"), host);
    config->setDisableReachabilityForTesting(true);
    config->setDisableQueueTimerForTesting(true);
    config->setDisableFlushOnBackgroundForTesting(true);
    config->setDisableRemoteConfigForTesting(true);
    config->setCaptureApplicationLifecycleEvents(false);
    config->setCaptureScreenViews(false);
    config->setPreloadFeatureFlags(false);
    config->setSendFeatureFlagEvent(false);
    config->setFlushAt(1000); // one flush, by hand, sends both
    return config;
}

} // namespace

TEST(AnalyticsExceptionProcessor, NestedExceptionsBecomeOneEntryEachOutermostFirst)
{
    const QVariantMap properties =
        processor::errorToProperties(nestedFailure(), true, QStringLiteral("generic"), programConfig());
    EXPECT_EQ(properties.value("$exception_level"), "error");
    const QVariantList list = properties.value("$exception_list").toList();
    ASSERT_EQ(list.size(), 2);
    const QVariantMap outer = list[0].toMap();
    const QVariantMap inner = list[1].toMap();
    EXPECT_EQ(outer.value("type"), "vellox::store::StoreError");
    EXPECT_EQ(outer.value("value"), "settings could not be saved");
    EXPECT_EQ(outer.value("module"), "vellox::store");
    EXPECT_EQ(inner.value("type"), "std::system_error");
    EXPECT_EQ(inner.value("value"), "open settings: No such file or directory (Code: 2)");
    EXPECT_EQ(inner.value("module"), "std");
    for (const QVariantMap& entry : {outer, inner}) {
        EXPECT_EQ(entry.value("thread_id").toLongLong(), gettid());
        EXPECT_EQ(entry.value("mechanism").toMap(),
                  (QVariantMap{{"type", "generic"}, {"handled", true}, {"synthetic", true}}));
        // The current stack, outermost first: it ends in this test's frames.
        const QVariantList frames = framesOf(entry);
        ASSERT_GE(frames.size(), 3);
        EXPECT_EQ(frames.last().toMap().value("package"), QCoreApplication::applicationFilePath());
        EXPECT_EQ(frames.last().toMap().value("in_app"), true);
    }
    EXPECT_EQ(framesOf(outer), framesOf(inner));

    // The images those frames point into, described from the loaded program.
    const QVariantList images = properties.value("$debug_images").toList();
    ASSERT_FALSE(images.isEmpty());
    QStringList files;
    for (const QVariant& image : images)
        files.append(image.toMap().value("code_file").toString());
    EXPECT_TRUE(files.contains(QCoreApplication::applicationFilePath())) << files.join(' ').toStdString();
    for (const QVariant& frame : framesOf(outer)) {
        const QString file = frame.toMap().value("package").toString();
        if (file.startsWith("/lib") || file.startsWith("/usr/lib")) {
            EXPECT_EQ(frame.toMap().value("in_app"), false) << file.toStdString();
        }
    }
}

TEST(AnalyticsExceptionProcessor, NamesAndMessagesOfUnusualThrows)
{
    struct Case {
        std::exception_ptr error;
        const char* type;
        const char* value;
        const char* module; // null: none
    };
    const Case cases[] = {
        {std::make_exception_ptr(42), "int", "Error", nullptr},
        {std::make_exception_ptr(std::runtime_error("")), "std::runtime_error", "Error", "std"},
        {std::make_exception_ptr(vellox::store::StoreError("x")), "vellox::store::StoreError", "x", "vellox::store"},
    };
    for (const Case& c : cases) {
        const QVariantList list = processor::buildExceptionList(c.error, false, "generic", programConfig());
        ASSERT_EQ(list.size(), 1) << c.type;
        const QVariantMap entry = list[0].toMap();
        EXPECT_EQ(entry.value("type"), c.type);
        EXPECT_EQ(entry.value("value"), c.value) << c.type;
        EXPECT_EQ(entry.contains("module"), c.module != nullptr) << c.type;
        if (c.module) {
            EXPECT_EQ(entry.value("module"), c.module);
        }
    }
    EXPECT_EQ(processor::extractModule("std::vector<a::b::C>"), "std");
    EXPECT_EQ(processor::extractModule("::Top"), std::nullopt);
}

TEST(AnalyticsExceptionProcessor, NamedExceptionUsesItsOwnStackWhenItHasOne)
{
    void* buffer[32];
    const int count = backtrace(buffer, 32);
    std::vector<uint64_t> addresses;
    for (int i = 0; i < count; ++i)
        addresses.push_back(reinterpret_cast<uintptr_t>(buffer[i]));
    addresses.push_back(0x10); // nothing is loaded there: no frame

    const QVariantMap withStack = processor::exceptionToProperties(
        {QStringLiteral("SettingsInvalid"), QStringLiteral("tone list is empty"), addresses}, true, "generic",
        programConfig());
    const QVariantMap entry = withStack.value("$exception_list").toList().value(0).toMap();
    EXPECT_EQ(entry.value("type"), "SettingsInvalid");
    EXPECT_EQ(entry.value("value"), "tone list is empty");
    EXPECT_FALSE(entry.contains("module"));
    EXPECT_EQ(entry.value("mechanism").toMap().value("synthetic"), false);
    const QVariantList frames = framesOf(entry);
    ASSERT_EQ(frames.size(), count) << "every loaded address, outermost first";
    EXPECT_EQ(frames.last().toMap().value("instruction_addr"), formatEventAddress(addresses.front()));

    // A message alone: the current stack, marked synthetic.
    const QVariantMap message = processor::exceptionToProperties(
        {QStringLiteral("Message"), QStringLiteral("sync skipped"), {}}, true, "generic", programConfig());
    const QVariantMap messageEntry = message.value("$exception_list").toList().value(0).toMap();
    EXPECT_EQ(messageEntry.value("mechanism").toMap().value("synthetic"), true);
    EXPECT_FALSE(framesOf(messageEntry).isEmpty());
    EXPECT_TRUE(message.contains("$debug_images"));
}

TEST(AnalyticsDebugImageProvider, ImageAddressesParseAndDescribeLoadedImages)
{
    using namespace AnalyticsDebugImageProvider;
    EXPECT_EQ(hexToUInt64("0x1F"), 31u);
    EXPECT_EQ(hexToUInt64("0X1f"), 31u);
    EXPECT_EQ(hexToUInt64("ff"), 255u);
    EXPECT_EQ(hexToUInt64("0x"), std::nullopt);
    EXPECT_EQ(hexToUInt64("zz"), std::nullopt);
    const unsigned char bytes[16] = {0xde, 0xad, 0xbe, 0xef, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
    EXPECT_EQ(extractUUID(bytes, 16), "DEADBEEF-0001-0203-0405-060708090A0B");
    EXPECT_EQ(extractUUID(bytes, 4), "DEADBEEF");

    // Unparsable and unknown addresses find nothing.
    EXPECT_TRUE(getDebugImages({QVariantMap{{"image_addr", "nonsense"}}, QVariantMap{{"image_addr", "0x10"}}}).isEmpty());
    // The program's own frame finds the program, with its build identifier.
    const QList<AnalyticsStackFrame> frames = AnalyticsStackTraceProcessor::symbolicateAddresses(
        {reinterpret_cast<uintptr_t>(&AnalyticsStackTraceProcessor::mainExecutablePath)}, programConfig(), false);
    ASSERT_EQ(frames.size(), 1);
    const QVariantList images = getDebugImages({frames[0].toDictionary()});
    ASSERT_EQ(images.size(), 1);
    const QVariantMap image = images[0].toMap();
    EXPECT_EQ(image.value("code_file"), QCoreApplication::applicationFilePath());
    EXPECT_GT(image.value("image_size").toULongLong(), 0u);
    EXPECT_FALSE(image.value("debug_id").toString().isEmpty());
}

TEST(AnalyticsExceptionCapture, HandledExceptionAndMessageReachTheServer)
{
    platform::PlatformGuard guard;
    TempHome home;
    IngestionServer ingestion;
    auto sdk = AnalyticsSDK::with(loopbackConfig(ingestion.host()));

    captureException(*sdk, nestedFailure(), QVariantMap{{"screen", "settings"}, {"$exception_level", "warning"}});
    captureException(*sdk, VXCrashReporterExceptionInfo{QStringLiteral("Message"), QStringLiteral("sync skipped"), {}});
    sdk->flush();
    ASSERT_TRUE(ingestion.waitForEvents(2));
    const QList<QVariantMap> events = ingestion.events();
    ASSERT_EQ(events.size(), 2);
    for (const QVariantMap& event : events)
        EXPECT_EQ(event.value("event"), "$exception");

    const QVariantMap exception = events[0].value("properties").toMap();
    EXPECT_EQ(exception.value("screen"), "settings");
    EXPECT_EQ(exception.value("$exception_level"), "warning") << "the caller's value wins";
    EXPECT_EQ(exception.value("$exception_list").toList().size(), 2);
    EXPECT_FALSE(exception.value("$debug_images").toList().isEmpty());
    EXPECT_TRUE(exception.contains("$lib")) << "the SDK adds its usual context";

    const QVariantMap message = events[1].value("properties").toMap();
    EXPECT_EQ(message.value("$exception_level"), "error");
    const QVariantMap entry = message.value("$exception_list").toList().value(0).toMap();
    EXPECT_EQ(entry.value("type"), "Message");
    EXPECT_EQ(entry.value("value"), "sync skipped");

    // An SDK that is not set up sends nothing and says why.
    QStringList lines;
    const bool wasOn = debugLogEnabled.exchange(true);
    setAnalyticsLogSink([&](const QString& line) { lines.append(line); });
    const std::shared_ptr<AnalyticsSDK> idle = AnalyticsSDK::shared();
    ASSERT_FALSE(idle->isEnabled());
    captureException(*idle, nestedFailure());
    captureException(*idle, VXCrashReporterExceptionInfo{QStringLiteral("Message"), QStringLiteral("x"), {}});
    setAnalyticsLogSink({});
    debugLogEnabled = wasOn;
    EXPECT_EQ(lines.count(
                  "[Analytics] Analytics method was called without `setup` being complete. Call wil be ignored."),
              2);
    sdk->flush();
    ingestion.server.waitForRequests(ingestion.server.requests().size() + 1, 200);
    EXPECT_EQ(ingestion.events().size(), 2);
}
