#pragma once

// The program as a person runs it: the binary scripts/run builds, under Xvfb
// with a window manager, on the test's private session bus with a keyring of
// its own, talking to a provider on 127.0.0.1; windows and keys come from
// xdotool.
#include "Vellox/rewrite/TextWindowProcess.h"

#include "support/DesktopPlatform.h"
#include "support/LoopbackHttpServer.h"
#include "support/SecretTool.h"
#include "support/StopProcess.h"
#include "support/TempHome.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPixmap>
#include <QProcess>
#include <QScreen>

#include <gtest/gtest.h>

namespace shell_session {

using rewrite_test::spinUntil;

// Generous for a loaded two-core machine running the sanitizer build.
constexpr int kStartMs = 60'000;
constexpr int kWindowMs = 20'000;

// Window names: the settings window's title, which a screen reader reads
// too, and onboarding as a screen reader names it (its title bar shows none).
inline const QString kSettingsTitle = QStringLiteral("Vellox Settings");
inline const QString kOnboardingName = QStringLiteral("Welcome to Vellox");

// A chat completion answer with `text` as the rewrite.
inline QByteArray completion(const char* text)
{
    QJsonObject message{{"role", "assistant"}, {"content", QString::fromUtf8(text)}};
    QJsonObject choice{{"index", 0}, {"message", message}, {"finish_reason", "stop"}};
    return QJsonDocument(QJsonObject{{"choices", QJsonArray{choice}}}).toJson(QJsonDocument::Compact);
}

class ShellSession : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("DISPLAY") || qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
            GTEST_SKIP() << "needs an X display and a private session bus (scripts/test runs it so)";

        // The keyring keeps its files in the temporary home.
        keyring_.setProcessEnvironment(QProcessEnvironment::systemEnvironment());
        // The session bus is shared with other tests, which may have had it
        // start a keyring of its own; ours takes the name over.
        keyring_.start(QStringLiteral("gnome-keyring-daemon"),
                       {QStringLiteral("--replace"), QStringLiteral("--foreground"), QStringLiteral("--unlock"),
                        QStringLiteral("--components=secrets")});
        ASSERT_TRUE(keyring_.waitForStarted(5000));
        keyring_.write("\n");
        keyring_.closeWriteChannel();
        // Only our daemon may answer: a store call before it owns the name
        // would have the bus start another one, which asks for a password.
        const auto ownerPid = [] {
            QDBusConnectionInterface* bus = QDBusConnection::sessionBus().interface();
            if (!bus->isServiceRegistered(QStringLiteral("org.freedesktop.secrets")))
                return qint64(-1);
            return qint64(bus->servicePid(QStringLiteral("org.freedesktop.secrets")).value());
        };
        ASSERT_TRUE(spinUntil([&] { return ownerPid() == keyring_.processId(); }, 10000))
            << "the keyring daemon did not come up";
    }

    void TearDown() override
    {
        if (HasFailure())
            saveScreen(QStringLiteral("failure"));
        test_support::stopProcess(program_);
        if (HasFailure())
            std::fprintf(stderr, "--- vellox output ---\n%s\n", program_.readAll().constData());
        if (keyring_.state() != QProcess::NotRunning) {
            keyring_.terminate();
            keyring_.waitForFinished(3000);
        }
    }

    // The environment the program starts in: the test's server as the
    // OpenAI base URL, and no leak report at exit (it would fail the exit,
    // not the test).
    QProcessEnvironment programEnvironment(QProcessEnvironment environment = QProcessEnvironment::systemEnvironment())
    {
        environment.insert(QStringLiteral("VELLOX_OPENAI_BASE_URL"), serverBase());
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        environment.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));
        return environment;
    }

    QString serverBase() const { return server_.baseUrl() + QStringLiteral("/v1"); }

    void startProgram(const QStringList& arguments, const QProcessEnvironment& environment)
    {
        program_.setProcessEnvironment(environment);
        program_.setProcessChannelMode(QProcess::MergedChannels);
        program_.start(QStringLiteral(VELLOX_BINARY), arguments);
        ASSERT_TRUE(program_.waitForStarted(5000));
    }

    // A second launch, as from the desktop's menu: it hands over to the
    // running program and ends. Answers whether it ended cleanly.
    bool launchAgain(const QStringList& arguments = {})
    {
        QProcess second;
        second.setProcessEnvironment(program_.processEnvironment());
        second.start(QStringLiteral(VELLOX_BINARY), arguments);
        const bool ended = second.waitForStarted(5000)
                           && spinUntil([&] { return second.state() == QProcess::NotRunning; }, kStartMs);
        return ended && second.exitStatus() == QProcess::NormalExit && second.exitCode() == 0;
    }

    static bool storeKey(const QByteArray& key)
    {
        return secret_tool::run({QStringLiteral("store"), QStringLiteral("--label=Vellox API key"),
                                 QStringLiteral("service"), QStringLiteral("Vellox"), QStringLiteral("account"),
                                 QStringLiteral("openai-compatible-api-key")},
                                key)
            .has_value();
    }

    static QByteArray xdotool(const QStringList& arguments)
    {
        QProcess process;
        process.start(QStringLiteral("xdotool"), arguments);
        process.waitForFinished(10000);
        return process.readAllStandardOutput().trimmed();
    }

    // The X window whose title matches, once one is mapped.
    static QByteArray findWindow(const QString& name, int timeoutMs = kWindowMs)
    {
        QByteArray found;
        spinUntil(
            [&] {
                found = xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"),
                                 name})
                            .split('\n')
                            .first();
                return !found.isEmpty();
            },
            timeoutMs);
        return found;
    }

    // Closes a window as its close button does: the window manager asks the
    // program to close it. Answers whether it went.
    static bool closeWindow(const QByteArray& window)
    {
        QProcess wmctrl;
        wmctrl.start(QStringLiteral("wmctrl"), {QStringLiteral("-i"), QStringLiteral("-c"), QString::fromLatin1(window)});
        wmctrl.waitForFinished(10000);
        return spinUntil(
            [&] {
                return !xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--classname"),
                                 QStringLiteral("^vellox$")})
                            .split('\n')
                            .contains(window);
            },
            kWindowMs);
    }

    static bool isShown(const QString& name)
    {
        return !xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"), name})
                    .isEmpty();
    }

    // The window the window manager calls active, and the one with the input
    // focus: where typed keys go.
    static QByteArray activeWindow() { return xdotool({QStringLiteral("getactivewindow")}); }
    static QByteArray focusedWindow() { return xdotool({QStringLiteral("getwindowfocus")}); }

    // Waits until keys typed now go to `window`: it is mapped and has the
    // input focus.
    static bool hasTheKeyboard(const QByteArray& window)
    {
        return !window.isEmpty() && spinUntil([&] { return focusedWindow() == window; }, kWindowMs);
    }

    static void callApplication(const char* method)
    {
        QDBusMessage call = QDBusMessage::createMethodCall(
            QStringLiteral("app.vellox.desktop"), QStringLiteral("/app/vellox/desktop/Application"),
            QStringLiteral("app.vellox.desktop.Application"), QString::fromLatin1(method));
        const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, 10000);
        EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << method << ": " << reply.errorMessage().toStdString();
    }

    static QJsonObject defaults()
    {
        QFile file(QDir::home().filePath(QStringLiteral(".config/vellox/defaults.json")));
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QJsonDocument::fromJson(file.readAll()).object();
    }

    // The settings the program stored: a data value holding JSON.
    static QJsonObject storedSettings()
    {
        const QString encoded = defaults().value(QStringLiteral("vellox.settings")).toObject().value(
            QStringLiteral("$data")).toString();
        return QJsonDocument::fromJson(QByteArray::fromBase64(encoded.toLatin1())).object();
    }

    // Keeps a picture of the screen in the temporary folder, for a failing run.
    static void saveScreen(const QString& name)
    {
        if (QScreen* screen = QGuiApplication::primaryScreen())
            screen->grabWindow(0).save(QDir::temp().filePath(QStringLiteral("vellox-e2e-%1.png").arg(name)));
    }

    // Reads or drives the program's windows as a screen reader does, for a
    // program started in accessibleEnvironment(): runs the probe with a
    // command and its arguments, and answers its JSON, or null when it failed.
    QJsonDocument probe(const QStringList& arguments, double timeoutSeconds = 60)
    {
        QProcess python;
        python.start(QStringLiteral("/usr/bin/python3"),
                     QStringList{QStringLiteral(VELLOX_ATSPI_PROBE)} + arguments
                         + QStringList{QStringLiteral("--pid"), QString::number(program_.processId()),
                                       QStringLiteral("--timeout"), QString::number(timeoutSeconds)});
        // The server answers from this thread's event loop meanwhile.
        if (!spinUntil([&] { return python.state() == QProcess::NotRunning; }, int(timeoutSeconds * 1000) + 30'000)) {
            python.kill();
            python.waitForFinished(5000);
        }
        const QByteArray output = python.readAllStandardOutput();
        lastProbeOutput_ = output + python.readAllStandardError();
        if (python.exitStatus() != QProcess::NormalExit || python.exitCode() != 0)
            return {};
        return QJsonDocument::fromJson(output);
    }

    // Waits until a control of `window` (the window's name as a screen reader
    // reads it) has the keyboard: the one named `name`, or with no name, any
    // but the node at `notPath`. Answers that control's node ("name",
    // "path", ...), or an empty object when none came to have it in time.
    QJsonObject focusedControl(const QString& window, const QString& name, const QString& notPath = {})
    {
        QStringList arguments{QStringLiteral("focus"), QStringLiteral("--window"), window};
        if (!name.isEmpty())
            arguments << QStringLiteral("--name") << name;
        if (!notPath.isEmpty())
            arguments << QStringLiteral("--not-path") << notPath;
        return probe(arguments, kWindowMs / 1000.0).object().value(QStringLiteral("node")).toObject();
    }

    TempHome home_;
    LoopbackHttpServer server_;
    QProcess keyring_;
    QProcess program_;
    QByteArray lastProbeOutput_;
};

} // namespace shell_session
