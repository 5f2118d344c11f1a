// The whole program under Xvfb: a key in a real keyring, a provider on
// 127.0.0.1, text selected and the shortcut pressed with xdotool in a text
// window of another process, then the popover and the shortcut recorder.
#include "Vellox/rewrite/TextWindowProcess.h"

#include "support/LoopbackHttpServer.h"
#include "support/SecretTool.h"
#include "support/TempHome.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QPixmap>
#include <QScreen>
#include <QTest>

#include <gtest/gtest.h>

namespace {

using rewrite_test::spinUntil;

constexpr char kFirstAnswer[] = "Rewritten by the provider.";
constexpr char kSecondAnswer[] = "Second rewrite, by the recorded shortcut.";


QByteArray completion(const char* text)
{
    QJsonObject message{{"role", "assistant"}, {"content", QString::fromUtf8(text)}};
    QJsonObject choice{{"index", 0}, {"message", message}, {"finish_reason", "stop"}};
    return QJsonDocument(QJsonObject{{"choices", QJsonArray{choice}}}).toJson(QJsonDocument::Compact);
}

class ShellEndToEnd : public ::testing::Test {
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
        ASSERT_TRUE(storeKey()) << "the key could not be stored";

        server_.setHandler([this](const LoopbackHttpServer::Request& request) {
            if (!request.target.endsWith("/chat/completions"))
                return LoopbackHttpServer::Reply::json(R"({"error":{"message":"not here"}})", 404);
            return LoopbackHttpServer::Reply::json(completion(answers_++ == 0 ? kFirstAnswer : kSecondAnswer));
        });

        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("VELLOX_OPENAI_BASE_URL"), server_.baseUrl() + QStringLiteral("/v1"));
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        environment.remove(QStringLiteral("ASAN_OPTIONS")); // leak checks of the child would fail the exit, not the test
        environment.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));
        program_.setProcessEnvironment(environment);
        program_.setProcessChannelMode(QProcess::MergedChannels);
        // No tray host runs here; without --no-tray the program would tell
        // the user so in a window of its own, which takes the keyboard.
        program_.start(QStringLiteral(VELLOX_BINARY), {QStringLiteral("--no-tray")});
        ASSERT_TRUE(program_.waitForStarted(5000));
    }

    void TearDown() override
    {
        if (program_.state() != QProcess::NotRunning) {
            program_.terminate();
            if (!program_.waitForFinished(5000))
                program_.kill();
        }
        if (HasFailure()) {
            saveScreen(QStringLiteral("failure"));
            std::fprintf(stderr, "--- vellox output ---\n%s\n", program_.readAll().constData());
        }
        if (keyring_.state() != QProcess::NotRunning) {
            keyring_.terminate();
            keyring_.waitForFinished(3000);
        }
    }

    bool storeKey()
    {
        return secret_tool::run({QStringLiteral("store"), QStringLiteral("--label=Vellox API key"), QStringLiteral("service"),
                                 QStringLiteral("Vellox"), QStringLiteral("account"),
                                 QStringLiteral("openai-compatible-api-key")},
                                "sk-e2e-key")
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
    static QByteArray findWindow(const QString& name, int timeoutMs = 10000)
    {
        QByteArray found;
        spinUntil(
            [&] {
                found = xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"), name})
                            .split('\n')
                            .first();
                return !found.isEmpty();
            },
            timeoutMs);
        return found;
    }

    static bool isShown(const QString& name)
    {
        return !xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"), name})
                    .isEmpty();
    }

    void callApplication(const char* method)
    {
        QDBusMessage call = QDBusMessage::createMethodCall(
            QStringLiteral("app.vellox.desktop"), QStringLiteral("/app/vellox/desktop/Application"),
            QStringLiteral("app.vellox.desktop.Application"), QString::fromLatin1(method));
        const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, 5000);
        EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << method << ": " << reply.errorMessage().toStdString();
    }

    QJsonObject defaults() const
    {
        QFile file(QDir::home().filePath(QStringLiteral(".config/vellox/defaults.json")));
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QJsonDocument::fromJson(file.readAll()).object();
    }

    QString storedShortcut() const
    {
        return defaults().value(QStringLiteral("GlobalShortcuts_rephraseSelection")).toString();
    }

    // Keeps a picture of the screen beside the build, for a failing run.
    static void saveScreen(const QString& name)
    {
        if (QScreen* screen = QGuiApplication::primaryScreen())
            screen->grabWindow(0).save(QDir::temp().filePath(QStringLiteral("vellox-e2e-%1.png").arg(name)));
    }

    TempHome home_;
    int answers_ = 0;
    LoopbackHttpServer server_;
    QProcess keyring_;
    QProcess program_;
};

TEST_F(ShellEndToEnd, ShortcutRewritesTheSelectionThenARecordedShortcutDoesToo)
{
    // With a saved key onboarding marks itself done, and the settings window
    // opens shortly after launch.
    const QByteArray settings = findWindow(QStringLiteral("Vellox Settings"));
    ASSERT_FALSE(settings.isEmpty()) << "the program did not come up";

    // A second launch hands over to the running one, which shows its settings.
    xdotool({QStringLiteral("windowclose"), QString::fromLatin1(settings)});
    ASSERT_TRUE(spinUntil([] { return !isShown(QStringLiteral("Vellox Settings")); }, 20000));
    QProcess second;
    second.setProcessEnvironment(program_.processEnvironment());
    second.start(QStringLiteral(VELLOX_BINARY), {QStringLiteral("--no-tray")});
    ASSERT_TRUE(spinUntil([&] { return second.state() == QProcess::NotRunning; }, 10000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_FALSE(findWindow(QStringLiteral("Vellox Settings")).isEmpty());

    TextWindowProcess text(QStringLiteral("hello there, friend"));
    ASSERT_TRUE(text.isReady());
    xdotool({QStringLiteral("key"), QStringLiteral("--clearmodifiers"), QStringLiteral("ctrl+a")});
    xdotool({QStringLiteral("key"), QStringLiteral("ctrl+t")});
    ASSERT_TRUE(spinUntil([&] { return text.text() == QString::fromUtf8(kFirstAnswer); }, 15000))
        << "text now: " << text.text().toStdString();
    ASSERT_TRUE(server_.waitForRequests(1));
    EXPECT_EQ(server_.requests().first().header("Authorization"), QByteArray("Bearer sk-e2e-key"));

    callApplication("ShowPopover");
    EXPECT_FALSE(findWindow(QStringLiteral("Vellox – Rewrites today: 1")).isEmpty());
    saveScreen(QStringLiteral("popover"));
    xdotool({QStringLiteral("key"), QStringLiteral("Escape")});

    // The user tabs through the settings form to the recorder and types the
    // new shortcut.
    callApplication("OpenSettings");
    const QByteArray window = findWindow(QStringLiteral("Vellox Settings"));
    ASSERT_FALSE(window.isEmpty());
    xdotool({QStringLiteral("windowactivate"), QStringLiteral("--sync"), QString::fromLatin1(window)});
    const QString before = storedShortcut();
    bool recorded = false;
    for (int tabs = 0; tabs < 6 && !recorded; ++tabs) {
        xdotool({QStringLiteral("key"), QStringLiteral("Tab")});
        // Time for the recorder to start recording when the focus lands on it.
        QTest::qWait(500);
        xdotool({QStringLiteral("key"), QStringLiteral("ctrl+shift+r")});
        recorded = spinUntil([&] { return storedShortcut() != before; }, 1500);
    }
    ASSERT_TRUE(recorded) << "the recorder never took the shortcut";
    const QJsonObject shortcut = QJsonDocument::fromJson(storedShortcut().toUtf8()).object();
    EXPECT_EQ(shortcut.value(QStringLiteral("carbonKeyCode")).toInt(), 15); // R
    EXPECT_EQ(shortcut.value(QStringLiteral("carbonModifiers")).toInt(), 4096 | 512); // control, shift
    saveScreen(QStringLiteral("recorder"));

    xdotool({QStringLiteral("windowclose"), QString::fromLatin1(window)});
    // The keyboard goes back to the text window only once the settings are gone.
    ASSERT_TRUE(spinUntil([] { return !isShown(QStringLiteral("Vellox Settings")); }, 20000));
    const QByteArray textWindow = findWindow(QStringLiteral("Vellox test text window"));
    xdotool({QStringLiteral("windowactivate"), QStringLiteral("--sync"), QString::fromLatin1(textWindow)});
    QTest::qWait(200);
    xdotool({QStringLiteral("key"), QStringLiteral("--clearmodifiers"), QStringLiteral("ctrl+a")});
    xdotool({QStringLiteral("key"), QStringLiteral("ctrl+shift+r")});
    // The recorded shortcut starts the next rewrite: the provider gets the
    // text the first rewrite left in the window, and its answer is counted.
    // Where the answer lands is the paste step's business, which the rewrite
    // road's own X11 tests check; here the shortcut is what matters.
    ASSERT_TRUE(server_.waitForRequests(2, 15000)) << "the recorded shortcut started no rewrite";
    EXPECT_TRUE(server_.requests().at(1).body.contains(kFirstAnswer));
    EXPECT_TRUE(spinUntil([&] { return defaults().value(QStringLiteral("vellox.usage.todayCount")).toInt() == 2; },
                          10000));
}

} // namespace
