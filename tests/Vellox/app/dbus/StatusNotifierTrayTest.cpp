// The program and a tray host that speaks only StatusNotifierItem, which
// comes onto the session bus after the program started: the host's watcher is
// played by this test, and reads the item the program registers with it.
#include "support/FakeStatusNotifierWatcher.h"
#include "support/SpinUntil.h"
#include "support/TempHome.h"
#include "support/VelloxOnBus.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QProcess>
#include <QStringList>
#include <QtEndian>

#include <gtest/gtest.h>

#include <memory>

namespace {

// Generous for a loaded two-core machine running sanitizers.
constexpr int kSettleMs = 60'000;
constexpr char kItemPath[] = "/StatusNotifierItem";
constexpr char kItemInterface[] = "org.kde.StatusNotifierItem";

using test_support::spinUntil;

class StatusNotifierHostAfterStart : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!bus_.isConnected())
            GTEST_SKIP() << "needs a private session bus (scripts/test runs it so)";
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        environment.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));
        program_.setProcessEnvironment(environment);
        program_.setProcessChannelMode(QProcess::MergedChannels);
        program_.start(QStringLiteral(VELLOX_BINARY), {});
        ASSERT_TRUE(program_.waitForStarted(5000));
        // The watcher comes once the program has launched.
        ASSERT_TRUE(spinUntil([this] { return test_support::velloxLaunchedOnBus(bus_, program_.processId()); }, kSettleMs))
            << "the program never finished launching";
        watcher_ = std::make_unique<FakeStatusNotifierWatcher>(bus_);
        ASSERT_TRUE(watcher_->start());
    }

    void TearDown() override
    {
        if (program_.state() != QProcess::NotRunning) {
            program_.terminate();
            if (!program_.waitForFinished(10000))
                program_.kill();
            program_.waitForFinished(5000);
        }
        if (HasFailure())
            std::fprintf(stderr, "--- vellox output ---\n%s\n", program_.readAll().constData());
        watcher_.reset();
    }

    bool registeredCount(int count) const { return watcher_ && watcher_->items().size() >= count; }

    bool onBus(const QString& name) const { return bus_.interface()->isServiceRegistered(name).value(); }

    QDBusMessage callItem(const QString& service, const QString& interface, const QString& method,
                          const QVariantList& arguments)
    {
        QDBusMessage call = QDBusMessage::createMethodCall(service, QString::fromLatin1(kItemPath), interface, method);
        call.setArguments(arguments);
        return bus_.call(call, QDBus::Block, 30'000);
    }

    QDBusConnection bus_ = QDBusConnection::sessionBus();
    TempHome home_;
    QProcess program_;
    std::unique_ptr<FakeStatusNotifierWatcher> watcher_;
};

TEST_F(StatusNotifierHostAfterStart, RegistersWithAWatcherThatComesLaterAndAnswersAsAnItem)
{
    ASSERT_TRUE(spinUntil([this] { return registeredCount(1); }, kSettleMs)) << "no item was registered";
    const QString item = watcher_->items().first();
    ASSERT_TRUE(onBus(item)) << item.toStdString();
    EXPECT_EQ(qint64(bus_.interface()->servicePid(item).value()), program_.processId());

    const QDBusMessage all = callItem(item, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("GetAll"),
                                      {QString::fromLatin1(kItemInterface)});
    ASSERT_EQ(all.type(), QDBusMessage::ReplyMessage) << all.errorMessage().toStdString();
    const QVariantMap properties = qdbus_cast<QVariantMap>(all.arguments().value(0));
    EXPECT_EQ(properties.value(QStringLiteral("Category")).toString(), QStringLiteral("ApplicationStatus"));
    EXPECT_EQ(properties.value(QStringLiteral("Title")).toString(), QStringLiteral("Vellox"));
    EXPECT_EQ(properties.value(QStringLiteral("Status")).toString(), QStringLiteral("Active"));
    EXPECT_FALSE(properties.value(QStringLiteral("Id")).toString().isEmpty());
    EXPECT_EQ(properties.value(QStringLiteral("ItemIsMenu")), QVariant(false));

    // Each image carries its size in full, and something is drawn in it.
    const auto pixmaps = properties.value(QStringLiteral("IconPixmap")).value<QDBusArgument>();
    int images = 0;
    bool drawn = false;
    pixmaps.beginArray();
    while (!pixmaps.atEnd()) {
        int width = 0;
        int height = 0;
        QByteArray data;
        pixmaps.beginStructure();
        pixmaps >> width >> height >> data;
        pixmaps.endStructure();
        SCOPED_TRACE(width);
        EXPECT_GT(width, 0);
        EXPECT_EQ(data.size(), qsizetype(width) * height * 4);
        for (qsizetype at = 0; at + 4 <= data.size(); at += 4)
            drawn = drawn || (qFromBigEndian<quint32>(data.constData() + at) >> 24) != 0;
        ++images;
    }
    pixmaps.endArray();
    EXPECT_GT(images, 0);
    EXPECT_TRUE(drawn) << "every image is transparent";

    // A click on the item; the popover it opens is off screen, so the check is
    // that the program answers and keeps running.
    const QDBusMessage activated = callItem(item, QString::fromLatin1(kItemInterface), QStringLiteral("Activate"), {0, 0});
    EXPECT_EQ(activated.type(), QDBusMessage::ReplyMessage) << activated.errorMessage().toStdString();
    EXPECT_EQ(program_.state(), QProcess::Running);
}

TEST_F(StatusNotifierHostAfterStart, RegistersAgainWhenTheWatcherComesBack)
{
    ASSERT_TRUE(spinUntil([this] { return registeredCount(1); }, kSettleMs)) << "no item was registered";
    const QString item = watcher_->items().first();
    ASSERT_TRUE(watcher_->stop());
    // The item goes with the watcher that knew it...
    ASSERT_TRUE(spinUntil([&] { return !onBus(item); }, kSettleMs)) << "the item outlived its watcher";
    ASSERT_TRUE(watcher_->start());
    // ...and comes back with the next one.
    ASSERT_TRUE(spinUntil([this] { return registeredCount(2); }, kSettleMs)) << "no item was registered again";
    EXPECT_TRUE(onBus(watcher_->items().at(1)));
}

} // namespace
