// The shell as a screen reader reads it over the accessibility bus: window
// frames with names, switches that are check boxes with their state, and
// status rows whose text is read and whose changes are announced.
#include "ShellSession.h"

#include <QJsonArray>

namespace {

using namespace shell_session;


// What the probe saw of one node.
struct Node {
    QString role;
    QString name;
    QStringList states;
    QStringList actions;

    bool has(const char* state) const { return states.contains(QString::fromLatin1(state)); }
};

Node toNode(const QJsonObject& object)
{
    const auto strings = [](const QJsonValue& value) {
        QStringList list;
        for (const QJsonValue& item : value.toArray())
            list.append(item.toString());
        return list;
    };
    return {object.value(QStringLiteral("role")).toString(), object.value(QStringLiteral("name")).toString(),
            strings(object.value(QStringLiteral("states"))), strings(object.value(QStringLiteral("actions")))};
}

class ShellAtSpi : public ShellSession {
protected:
    void SetUp() override
    {
        ShellSession::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        // Every key is refused, so onboarding shows its error.
        server_.setHandler([](const LoopbackHttpServer::Request&) {
            return LoopbackHttpServer::Reply::json(R"({"error":{"message":"Incorrect API key provided"}})", 401);
        });
        startProgram({QStringLiteral("--no-tray")}, programEnvironment(accessibleEnvironment()));
    }

    QList<Node> dump(const QString& window)
    {
        QList<Node> nodes;
        for (const QJsonValue& value : probe({QStringLiteral("dump"), QStringLiteral("--window"), window}).array())
            nodes.append(toNode(value.toObject()));
        return nodes;
    }

    static std::optional<Node> named(const QList<Node>& nodes, const QString& name, const QString& role = {})
    {
        for (const Node& node : nodes) {
            if (node.name == name && (role.isEmpty() || node.role == role))
                return node;
        }
        return std::nullopt;
    }

    // The control a label names: the node of that name that is not the label.
    static std::optional<Node> control(const QList<Node>& nodes, const QString& name)
    {
        for (const Node& node : nodes) {
            if (node.name == name && node.role != QLatin1String("label"))
                return node;
        }
        return std::nullopt;
    }

    // Waits until the switch reads as `checked`, reading the window again.
    bool switchReads(const QString& name, bool checked)
    {
        return spinUntil(
            [&] {
                const auto node = named(dump(kSettingsTitle), name, QStringLiteral("check box"));
                return node && node->has("checked") == checked;
            },
            kWindowMs);
    }
};

TEST_F(ShellAtSpi, WindowsSwitchesAndStatusRowsReadAsWhatTheyAre)
{
    // Onboarding: a frame with a name, though its title bar shows none.
    const QList<Node> onboarding = dump(kOnboardingName);
    ASSERT_FALSE(onboarding.isEmpty()) << "no onboarding window over AT-SPI: " << lastProbeOutput_.toStdString();
    EXPECT_EQ(onboarding.first().role, QStringLiteral("frame"));

    // A refused key: the status row's new text is announced.
    const QJsonDocument typed = probe({QStringLiteral("set-text"), QStringLiteral("--window"), kOnboardingName,
                                       QStringLiteral("--name"), QStringLiteral("API key"), QStringLiteral("--text"),
                                       QStringLiteral("sk-wrong")});
    ASSERT_TRUE(typed.object().value(QStringLiteral("done")).toBool()) << lastProbeOutput_.toStdString();
    const QJsonObject watched =
        probe({QStringLiteral("watch"), QStringLiteral("--window"), kOnboardingName, QStringLiteral("--until-name"),
               QStringLiteral("Invalid API key"), QStringLiteral("--act-name"), QStringLiteral("Connect"),
               QStringLiteral("--action"), QStringLiteral("Press")})
            .object();
    EXPECT_TRUE(watched.value(QStringLiteral("acted")).toBool()) << lastProbeOutput_.toStdString();
    ASSERT_TRUE(watched.value(QStringLiteral("matched")).toBool())
        << "the error was not announced: " << lastProbeOutput_.toStdString();
    const auto error = named(dump(kOnboardingName), QStringLiteral("Invalid API key"));
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->role, QStringLiteral("status bar"));

    // Settings, opened by a second launch.
    ASSERT_TRUE(launchAgain({QStringLiteral("--no-tray")}));
    const QList<Node> settings = dump(kSettingsTitle);
    ASSERT_FALSE(settings.isEmpty()) << "no settings window over AT-SPI: " << lastProbeOutput_.toStdString();
    EXPECT_EQ(settings.first().role, QStringLiteral("frame"));
    const auto status = named(settings, QStringLiteral("Not connected"));
    ASSERT_TRUE(status.has_value()) << "the key's status is not exposed";
    EXPECT_EQ(status->role, QStringLiteral("status bar"));
    for (const char* name : {"Ask each time", "Describe the edit"}) {
        SCOPED_TRACE(name);
        const auto toggle = control(settings, QString::fromLatin1(name));
        ASSERT_TRUE(toggle.has_value());
        // A check box: one that can be checked, as a screen reader says it.
        EXPECT_EQ(toggle->role, QStringLiteral("check box"));
        EXPECT_FALSE(toggle->has("checked"));
    }

    // Toggled as a screen reader user toggles it: on, and the setting with it.
    const auto toggle = [&](const char* name) {
        return probe({QStringLiteral("act"), QStringLiteral("--window"), kSettingsTitle, QStringLiteral("--name"),
                      QString::fromLatin1(name), QStringLiteral("--role"), QStringLiteral("check box"),
                      QStringLiteral("--action"), QStringLiteral("Toggle")})
            .object()
            .value(QStringLiteral("done"))
            .toBool();
    };
    ASSERT_TRUE(toggle("Ask each time")) << lastProbeOutput_.toStdString();
    EXPECT_TRUE(switchReads(QStringLiteral("Ask each time"), true));
    EXPECT_TRUE(spinUntil([] { return storedSettings().value(QStringLiteral("askToneEachTime")).toBool(); }, kWindowMs));
    // The other switch turns it off again, and both read so.
    ASSERT_TRUE(toggle("Describe the edit")) << lastProbeOutput_.toStdString();
    EXPECT_TRUE(switchReads(QStringLiteral("Describe the edit"), true));
    EXPECT_TRUE(switchReads(QStringLiteral("Ask each time"), false));
    EXPECT_TRUE(
        spinUntil([] { return storedSettings().value(QStringLiteral("askAICommandEachTime")).toBool(); }, kWindowMs));
}

} // namespace
