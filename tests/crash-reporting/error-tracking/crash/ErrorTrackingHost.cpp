// A small program that sets the analytics client up against a test's server
// with crash auto-capture on, and crashes when asked. Each launch prints what
// it saw, one "key=value" line at a time, for the test that runs it.
//
//   host warm  <0|1>   set up, wait for the remote switch to read <0|1>, exit
//   host crash <0|1>   the same, then crash on a bad memory access
//   host send          set up (sending any previous crash), flush, exit
//   host app           set up the way the application does, report the
//                      crash handlers in force, then crash
#include "analytics/AnalyticsConfig.h"
#include "analytics/AnalyticsManager.h"
#include "analytics/AnalyticsQueue.h"
#include "analytics/flags/AnalyticsRemoteConfig.h"
#include "analytics/sdk/AnalyticsSDK.h"
#include "crash-reporting/error-tracking/AnalyticsErrorTrackingAutoCapture.h"
#include "crash-reporting/error-tracking/AnalyticsErrorTrackingAutoCaptureIntegration.h"
#include "crash-reporting/reporter/VXCrashReporter.h"
#include "platform/Platform.h"
#include "platform/fake/FakeAppInfo.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <csignal>
#include <cstdio>

using namespace analytics;

namespace {

void say(const QString& line)
{
    std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
}

bool waitUntil(const std::function<bool()>& condition, int timeoutMs = 15000)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
    return true;
}

std::shared_ptr<AnalyticsErrorTrackingAutoCaptureIntegration> installedCrashIntegration(AnalyticsSDK& sdk)
{
    for (const auto& integration : sdk.installedIntegrations())
        if (auto crash = std::dynamic_pointer_cast<AnalyticsErrorTrackingAutoCaptureIntegration>(integration))
            return crash;
    return nullptr;
}

[[gnu::noinline]] void crashOnBadAccess()
{
    volatile int* nowhere = nullptr;
    *nowhere = 42;
}

bool crashHandlersAreDefault()
{
    for (int signal : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGTRAP}) {
        struct sigaction action {};
        if (sigaction(signal, nullptr, &action) != 0 || action.sa_handler != SIG_DFL)
            return false;
    }
    return true;
}

int runApp(const QString& host)
{
    auto info = std::make_shared<platform::fake::FakeAppInfo>();
    info->values = {{QStringLiteral("CFBundleIdentifier"), QStringLiteral("app.vellox.desktop")},
                    {QString::fromLatin1(AnalyticsManager::kApiKeyInfoKey), QStringLiteral("tok")},
                    {QString::fromLatin1(AnalyticsManager::kHostInfoKey), host}};
    platform::Platform::current().appInfo = info;
    AnalyticsManager::configureIfNeeded();
    const std::shared_ptr<AnalyticsSDK> sdk = AnalyticsSDK::shared();
    say(QStringLiteral("enabled=%1").arg(sdk->isEnabled() ? 1 : 0));
    // Let the remote configuration (which allows auto-capture) arrive.
    waitUntil([&] { return sdk->remoteConfig() && sdk->remoteConfig()->autoCaptureExceptions(); });
    say(QStringLiteral("remote=%1").arg(sdk->remoteConfig() && sdk->remoteConfig()->autoCaptureExceptions() ? 1 : 0));
    say(QStringLiteral("handlers=%1").arg(crashHandlersAreDefault() ? "default" : "installed"));
    crashOnBadAccess();
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QString mode = argc > 1 ? QString::fromLatin1(argv[1]) : QString();
    const bool expectSwitch = argc > 2 && QByteArray(argv[2]) == "1";
    const QString host = qEnvironmentVariable("VELLOX_TEST_INGESTION_HOST");
    platform::PlatformGuard guard;
    if (mode == QLatin1String("app"))
        return runApp(host);

    auto info = std::make_shared<platform::fake::FakeAppInfo>();
    info->values = {{QStringLiteral("CFBundleIdentifier"), QStringLiteral("app.vellox.errortracking-host")},
                    {QStringLiteral("CFBundleVersion"), QStringLiteral("7")}};
    guard.platform().appInfo = info;

    auto config = std::make_shared<AnalyticsConfig>(QStringLiteral("tok"), host);
    config->setDisableReachabilityForTesting(true);
    config->setDisableQueueTimerForTesting(true);
    config->setDisableFlushOnBackgroundForTesting(true);
    config->setCaptureApplicationLifecycleEvents(false);
    config->setCaptureScreenViews(false);
    config->setPreloadFeatureFlags(false);
    config->setSendFeatureFlagEvent(false);
    config->setFlushAt(1000);
    config->errorTrackingConfig().setAutoCapture(true);
    config->errorTrackingConfig().setInAppIncludes({QStringLiteral("vellox_error_tracking_host")});
    enableErrorTrackingAutoCapture();
    const std::shared_ptr<AnalyticsSDK> sdk = AnalyticsSDK::with(config);

    // Whatever the SDK's own install loop made of the integration. Left out
    // with the switch on means the SDK never tried it.
    const std::shared_ptr<AnalyticsErrorTrackingAutoCaptureIntegration> integration = installedCrashIntegration(*sdk);
    if (integration)
        say(QStringLiteral("install=installed"));
    else if (sdk->remoteConfig() && !sdk->remoteConfig()->autoCaptureExceptions())
        say(QStringLiteral("install=skipped: ") +
            description(AnalyticsIntegrationInstallSkipReason::disabledInRemoteConfig));
    else
        say(QStringLiteral("install=absent"));
    const qsizetype queued = sdk->queue() ? sdk->queue()->depth() : -1;
    say(QStringLiteral("queued=%1").arg(queued));
    if (VXCrashReporter* reporter = integration ? integration->crashReporter() : nullptr) {
        say(QStringLiteral("report=%1").arg(reporter->crashReportPath()));
        say(QStringLiteral("pending=%1").arg(reporter->hasPendingCrashReport() ? 1 : 0));
        say(QStringLiteral("armed=%1").arg(reporter->isEnabled() ? 1 : 0));
    }

    // The SDK hands the new identity to its integrations itself.
    sdk->identify(QStringLiteral("user-7"));

    if (mode == QLatin1String("send")) {
        sdk->flush();
        const bool drained = waitUntil([&] { return sdk->queue()->depth() == 0; });
        say(QStringLiteral("drained=%1").arg(drained ? 1 : 0));
        return 0;
    }
    // The fetch is over only once its answer is stored for the next launch.
    const bool switched = waitUntil([&] {
        return sdk->remoteConfig()->remoteConfigDidFetch() &&
            sdk->remoteConfig()->autoCaptureExceptions() == expectSwitch;
    });
    say(QStringLiteral("switch=%1").arg(switched ? (expectSwitch ? 1 : 0) : -1));
    if (mode == QLatin1String("crash"))
        crashOnBadAccess();
    return switched ? 0 : 3;
}
