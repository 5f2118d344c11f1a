#include "../RewriteRoadTestSupport.h"
#include "../TextWindowProcess.h"
#include "support/DesktopPlatform.h"

#include "Vellox/rewrite/SelectionAutomation.h"
#include "platform/fake/FakeAppInfo.h"
#include "platform/fake/FakeCredentialStore.h"
#include "platform/fake/FakeDefaults.h"
#include "platform/fake/FakeSystemLog.h"
#include "platform/fake/FakePlatform.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>

namespace {

// A window of a new process gets the focus quickly, but not on a loaded machine.
constexpr int kFocusWaitMs = 15000;

platform::Platform desktop()
{
    platform::Platform p = desktopWithFakeStores();
    p.clock = platform::fake::makeFakePlatform().clock;
    return p;
}

class ShortcutRoadX11Test : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            GTEST_SKIP() << "needs an X display";
    }

    void runRoad()
    {
        ASSERT_TRUE(rewrite_test::run(RewriteCoordinator::shared().rephraseSelection(RewriteCoordinator::Trigger::globalHotkey), 20000).done);
    }

    void answerWith(const QString& text) { server.enqueue(LoopbackHttpServer::Reply::json(rewrite_test::openAIAnswer(text))); }

    TempHome home;
    platform::PlatformGuard guard{desktop()};
    LoopbackHttpServer server;
    ScopedSurfaces scoped;
};

} // namespace

TEST_F(ShortcutRoadX11Test, ReplacesTheSelectionInAnotherProcessAndKeepsTheClipboard)
{
    PreferencesStore::resetSharedForTesting();
    KeychainStore::setApiKey(QStringLiteral("sk-x11"), ProviderId::openaiCompatible);
    AppSettings settings;
    settings.apiBaseURL = server.baseUrl() + QStringLiteral("/v1");
    PreferencesStore::shared().setSettings(settings);

    // A loaded test machine (sanitizers, two cores) can take longer than a
    // desktop for the window's copy to reach the clipboard.
    SelectionAutomation::Waits patient;
    patient.copyCapMs = 5000;
    SelectionAutomation::setWaitsForTesting(patient);
    TextWindowProcess window(QStringLiteral("hello brave world"));
    ASSERT_TRUE(window.isReady());
    ASSERT_TRUE(rewrite_test::spinUntil([&] {
        const auto front = platform::Platform::current().workspace->frontmostApplication();
        return front && front->pid == window.pid();
    }, kFocusWaitMs)) << "the text window never got the focus";
    window.select(6, 11);

    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->setText(QStringLiteral("clipboard before"));
    answerWith(QStringLiteral("bold"));
    runRoad();
    EXPECT_EQ(RewriteFeedbackState::shared().lastError(), std::nullopt);
    ASSERT_EQ(server.requests().size(), 1);
    EXPECT_TRUE(server.requests().first().body.contains("\"content\":\"brave\""));
    EXPECT_TRUE(rewrite_test::spinUntil([&] { return window.text() == QStringLiteral("hello bold world"); }, 10000))
        << window.text().toStdString();
    EXPECT_EQ(clipboard->text(), QStringLiteral("clipboard before"));

    // An image on the clipboard survives a rewrite.
    QImage image(32, 16, QImage::Format_RGB32);
    image.fill(QColor(200, 30, 90));
    clipboard->setImage(image);
    window.select(11, 16);
    answerWith(QStringLiteral("planet"));
    runRoad();
    EXPECT_TRUE(rewrite_test::spinUntil([&] { return window.text() == QStringLiteral("hello bold planet"); }, 10000))
        << window.text().toStdString();
    const QMimeData* data = clipboard->mimeData();
    ASSERT_TRUE(data && data->hasImage());
    const QImage kept = qvariant_cast<QImage>(data->imageData());
    EXPECT_EQ(kept.size(), image.size());
    EXPECT_EQ(kept.pixelColor(5, 5), QColor(200, 30, 90));
    PreferencesStore::resetSharedForTesting();
    SelectionAutomation::setWaitsForTesting({});
}

TEST_F(ShortcutRoadX11Test, NothingSelectedNeverSendsTheClipboard)
{
    TextWindowProcess window(QStringLiteral("no selection here"));
    ASSERT_TRUE(window.isReady());
    ASSERT_TRUE(rewrite_test::spinUntil([&] {
        const auto front = platform::Platform::current().workspace->frontmostApplication();
        return front && front->pid == window.pid();
    }, kFocusWaitMs));
    window.select(3, 3);
    QGuiApplication::clipboard()->setText(QStringLiteral("secret password"));
    const auto read = rewrite_test::run(SelectionAutomation::readSelection());
    EXPECT_EQ(read.value->text, QString());
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("secret password"));
}
