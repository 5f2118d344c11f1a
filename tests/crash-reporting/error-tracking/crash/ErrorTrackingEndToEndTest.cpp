// Crash auto-capture for real: a host program sets the analytics client up
// against a server on 127.0.0.1, crashes, and sends the crash at its next
// launch; the application's own set-up stays out of it.
#include "analytics/sdk/IngestionServer.h"
#include "support/TempHome.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

namespace {

struct Launch {
    QProcess::ExitStatus status = QProcess::NormalExit;
    int exitCode = 0;
    QMap<QString, QString> said;
    QString output;
};

// Runs the host to its end while the server answers on this thread.
Launch launch(IngestionServer& ingestion, const QStringList& arguments)
{
    QProcess host;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("VELLOX_TEST_INGESTION_HOST"), ingestion.host());
    host.setProcessEnvironment(environment);
    host.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    host.start(QStringLiteral(VELLOX_ERROR_TRACKING_HOST), arguments);
    EXPECT_TRUE(host.waitForStarted());
    ingestion.waitFor([&] { return host.state() == QProcess::NotRunning; }, 60000);
    Launch result;
    result.status = host.exitStatus();
    result.exitCode = host.exitCode();
    result.output = QString::fromUtf8(host.readAllStandardOutput());
    for (const QString& line : result.output.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals > 0)
            result.said.insert(line.left(equals), line.mid(equals + 1));
    }
    return result;
}

QList<QVariantMap> exceptionEvents(const IngestionServer& ingestion)
{
    QList<QVariantMap> found;
    for (const QVariantMap& event : ingestion.events())
        if (event.value("event") == "$exception")
            found.append(event);
    return found;
}

// Lets a launch's uploads, if any, arrive.
void settle(IngestionServer& ingestion)
{
    ingestion.waitFor([] { return false; }, 500);
}

// The service's remote configuration, answered late enough that a launch has
// installed its integrations (from the cached switch) before it arrives.
void serveRemoteConfig(IngestionServer& ingestion, QByteArray body)
{
    ingestion.server.setHandler([body](const LoopbackHttpServer::Request& request) {
        if (!request.target.startsWith("/array/"))
            return LoopbackHttpServer::Reply::json("{}");
        LoopbackHttpServer::Reply reply = LoopbackHttpServer::Reply::json(body);
        reply.delayMs = 500;
        return reply;
    });
}

const QByteArray kAutoCaptureOn = R"({"hasFeatureFlags": false, "errorTracking": {"autocaptureExceptions": true}})";
const QByteArray kAutoCaptureOff = R"({"hasFeatureFlags": false, "errorTracking": false})";

} // namespace

TEST(ErrorTrackingEndToEnd, ACrashIsSentOnceAtTheNextLaunchWithItsTimeFramesAndImages)
{
    TempHome home;
    IngestionServer ingestion;
    serveRemoteConfig(ingestion, kAutoCaptureOn);

    // The first launch has no remote configuration yet: auto-capture waits.
    const Launch first = launch(ingestion, {"warm", "1"});
    ASSERT_EQ(first.exitCode, 0) << first.output.toStdString();
    EXPECT_EQ(first.said.value("install"), "skipped: Disabled in remote config");

    const QDateTime beforeCrash = QDateTime::currentDateTimeUtc().addSecs(-1);
    const Launch crashed = launch(ingestion, {"crash", "1"});
    const QDateTime afterCrash = QDateTime::currentDateTimeUtc().addSecs(1);
    ASSERT_EQ(crashed.status, QProcess::CrashExit) << crashed.output.toStdString();
    EXPECT_EQ(crashed.said.value("install"), "installed");
    EXPECT_EQ(crashed.said.value("armed"), "1");
    const QString reportPath = crashed.said.value("report");
    ASSERT_TRUE(QFile::exists(reportPath)) << reportPath.toStdString();
    EXPECT_TRUE(exceptionEvents(ingestion).isEmpty());

    const Launch next = launch(ingestion, {"send"});
    ASSERT_EQ(next.exitCode, 0) << next.output.toStdString();
    EXPECT_EQ(next.said.value("install"), "installed");
    EXPECT_GE(next.said.value("queued").toInt(), 1) << "the event is queued during install";
    EXPECT_EQ(next.said.value("pending"), "0") << "and the report purged by then";
    EXPECT_FALSE(QFile::exists(reportPath));
    EXPECT_EQ(next.said.value("drained"), "1");
    ASSERT_TRUE(ingestion.waitFor([&] { return !exceptionEvents(ingestion).isEmpty(); }));
    settle(ingestion);

    const QList<QVariantMap> events = exceptionEvents(ingestion);
    ASSERT_EQ(events.size(), 1);
    const QVariantMap event = events[0];
    EXPECT_EQ(event.value("distinct_id"), "user-7") << "attributed from the context stored before the crash";
    // The crash's own time (whole seconds), not the clock of the launch that sends it.
    const QDateTime when = QDateTime::fromString(event.value("timestamp").toString(), Qt::ISODateWithMs);
    ASSERT_TRUE(when.isValid()) << event.value("timestamp").toString().toStdString();
    EXPECT_GE(when, beforeCrash);
    EXPECT_LE(when, afterCrash);
    EXPECT_EQ(when.time().msec(), 0);

    const QVariantMap properties = event.value("properties").toMap();
    EXPECT_EQ(properties.value("$exception_level"), "fatal");
    EXPECT_TRUE(properties.contains("$lib")) << "the context stored at the crash";
    const QVariantList list = properties.value("$exception_list").toList();
    ASSERT_EQ(list.size(), 1);
    const QVariantMap entry = list[0].toMap();
    EXPECT_EQ(entry.value("type"), "SIGSEGV");
    EXPECT_TRUE(entry.value("value").toString().startsWith("SIGSEGV (code SEGV_MAPERR) at address 0x0000000000000000"))
        << entry.value("value").toString().toStdString();
    EXPECT_EQ(entry.value("mechanism").toMap().value("type"), "signal");
    const QVariantList frames = entry.value("stacktrace").toMap().value("frames").toList();
    ASSERT_GE(frames.size(), 2);
    // Innermost last: the faulting frame lies in the host program, in-app.
    const QVariantMap top = frames.last().toMap();
    EXPECT_EQ(top.value("module"), "vellox_error_tracking_host");
    EXPECT_EQ(top.value("in_app"), true);
    bool sawSystemLibrary = false;
    for (const QVariant& frame : frames) {
        const QString module = frame.toMap().value("module").toString();
        if (module.startsWith("libc.so") || module.startsWith("libQt6")) {
            sawSystemLibrary = true;
            EXPECT_EQ(frame.toMap().value("in_app"), false) << module.toStdString();
        }
    }
    EXPECT_TRUE(sawSystemLibrary) << "the stack runs through system libraries";
    QStringList images;
    for (const QVariant& image : properties.value("$debug_images").toList())
        images.append(image.toMap().value("code_file").toString());
    EXPECT_TRUE(images.contains(QStringLiteral(VELLOX_ERROR_TRACKING_HOST))) << images.join(' ').toStdString();
    EXPECT_TRUE(std::any_of(images.begin(), images.end(), [](const QString& image) { return image.contains("/libc.so"); }))
        << images.join(' ').toStdString();

    // A second launch has nothing more to send.
    const Launch again = launch(ingestion, {"send"});
    EXPECT_EQ(again.exitCode, 0);
    EXPECT_EQ(again.said.value("pending"), "0");
    settle(ingestion);
    EXPECT_EQ(exceptionEvents(ingestion).size(), 1);
}

TEST(ErrorTrackingEndToEnd, SwitchedOffInRemoteConfigTheReportIsPurgedAndNothingSent)
{
    TempHome home;
    IngestionServer ingestion;
    serveRemoteConfig(ingestion, kAutoCaptureOn);
    ASSERT_EQ(launch(ingestion, {"warm", "1"}).exitCode, 0);

    // Armed from the cached switch; the service then turns it off, and the
    // run crashes.
    serveRemoteConfig(ingestion, kAutoCaptureOff);
    const Launch crashed = launch(ingestion, {"crash", "0"});
    ASSERT_EQ(crashed.status, QProcess::CrashExit) << crashed.output.toStdString();
    EXPECT_EQ(crashed.said.value("switch"), "0");
    const QString reportPath = crashed.said.value("report");
    ASSERT_TRUE(QFile::exists(reportPath));

    const Launch next = launch(ingestion, {"send"});
    EXPECT_EQ(next.said.value("install"), "skipped: Disabled in remote config");
    EXPECT_FALSE(QFile::exists(reportPath)) << "the report is purged unread";
    settle(ingestion);
    EXPECT_TRUE(exceptionEvents(ingestion).isEmpty());
}

TEST(ErrorTrackingEndToEnd, TheApplicationsOwnSetUpInstallsNoCrashHandler)
{
    TempHome home;
    IngestionServer ingestion;
    serveRemoteConfig(ingestion, kAutoCaptureOn);

    for (int run = 0; run < 2; ++run) {
        const Launch app = launch(ingestion, {"app"});
        EXPECT_EQ(app.status, QProcess::CrashExit) << app.output.toStdString();
        EXPECT_EQ(app.said.value("enabled"), "1") << "analytics are on, with a token";
        EXPECT_EQ(app.said.value("remote"), "1") << "and the service would allow auto-capture";
        EXPECT_EQ(app.said.value("handlers"), "default");
    }
    settle(ingestion);
    EXPECT_FALSE(ingestion.requestsTo("/array/").isEmpty());
    EXPECT_TRUE(exceptionEvents(ingestion).isEmpty());
    const QString reporterFolder = qEnvironmentVariable("XDG_CACHE_HOME", QDir::homePath() + "/.cache") + "/app.vellox.crashreporter.data";
    EXPECT_FALSE(QDir(reporterFolder).exists()) << "no crash reporter was ever made";
}
