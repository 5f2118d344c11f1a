// The panels at a real selection: another application's text selection, read
// over the accessibility bus, places the picker and the busy chip.

#include "Vellox/rewrite/TextWindowProcess.h"
#include "support/DesktopPlatform.h"

#include "Vellox/panels/FloatingPanel.h"
#include "Vellox/panels/PanelSurfaces.h"
#include "Vellox/panels/RewriteBusySpinner.h"
#include "Vellox/panels/TonePickerPanel.h"
#include "Vellox/rewrite/SelectionAnchorResolver.h"

#include "platform/Workspace.h"
#include "platform/fake/FakePlatform.h"

#include <QApplication>
#include <QDBusConnection>

#include <gtest/gtest.h>

namespace {

constexpr double kTolerance = 4;

quint64 activeWindow()
{
    QProcess process;
    process.start(QStringLiteral("xdotool"), {"getactivewindow"});
    process.waitForFinished(5000);
    return process.readAllStandardOutput().trimmed().toULongLong();
}

QCoro::Task<void> ask(std::shared_ptr<std::optional<std::optional<TonePickerChoice>>> outcome)
{
    *outcome = co_await PanelSurfaces().askTone(TonePreset::builtIns().mid(0, 4), true);
}

// No pasting into the user's windows, nor keys typed into them.
platform::Platform desktop()
{
    platform::Platform p = desktopWithFakeStores();
    const platform::Platform fakes = platform::fake::makeFakePlatform();
    p.pasteboard = fakes.pasteboard;
    p.keySynthesizer = fakes.keySynthesizer;
    return p;
}

class PanelsAtSelection : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            GTEST_SKIP() << "needs an X display";
        if (!QDBusConnection::sessionBus().isConnected())
            GTEST_SKIP() << "needs a session bus";
        SelectionAnchorResolver::resetCacheForTesting();
    }
    void TearDown() override
    {
        TonePickerPanel::finish(std::nullopt);
        RewriteBusySpinner::hide();
        rewrite_test::spinFor(100);
    }

    platform::PlatformGuard guard{desktop()};
};

TEST_F(PanelsAtSelection, ThePickerOpensUnderTheSelectionAndTheChipBesideIt)
{
    TextWindowProcess window(QStringLiteral("Please send me the report by Friday."), accessibleEnvironment());
    ASSERT_TRUE(window.isReady());
    ASSERT_TRUE(rewrite_test::spinUntil([&] {
        const auto front = platform::Platform::current().workspace->frontmostApplication();
        return front && front->pid == window.pid();
    }));
    const quint64 windowId = activeWindow();
    const QRect selected = window.select(7, 11);
    ASSERT_FALSE(selected.isEmpty());
    // The window registers with the accessibility registry shortly after it
    // starts; wait until the selection can be read.
    ASSERT_TRUE(rewrite_test::spinUntil(
        [&] {
            const auto element = platform::Platform::current().selectionLocator->focusedElement();
            return element && element->selectionBounds;
        },
        15000));

    auto outcome = std::make_shared<std::optional<std::optional<TonePickerChoice>>>();
    ask(outcome);
    FloatingPanel* picker = TonePickerPanel::panel();
    ASSERT_TRUE(picker);
    EXPECT_NEAR(picker->cardFrame().left(), selected.left(), kTolerance);
    EXPECT_NEAR(picker->cardFrame().top(), selected.top() + selected.height() + 8, kTolerance);
    ASSERT_TRUE(rewrite_test::spinUntil([&] { return activeWindow() == quint64(picker->winId()); }));
    QProcess::execute(QStringLiteral("xdotool"), {"key", "Escape"});
    ASSERT_TRUE(rewrite_test::spinUntil([&] { return outcome->has_value(); }));
    EXPECT_FALSE(**outcome);
    EXPECT_TRUE(rewrite_test::spinUntil([&] { return activeWindow() == windowId; }))
        << "the keyboard goes back to the text window";

    RewriteBusySpinner::show();
    FloatingPanel* chip = RewriteBusySpinner::panel();
    ASSERT_TRUE(chip);
    EXPECT_NEAR(chip->cardFrame().left(), selected.left() + selected.width() + 6, kTolerance);
    EXPECT_NEAR(chip->cardFrame().center().y(), selected.center().y(), kTolerance);
    rewrite_test::spinFor(200);
    EXPECT_EQ(activeWindow(), windowId) << "the chip never takes the keyboard";
    EXPECT_TRUE(window.keyEvents(0).isEmpty());
}

} // namespace
