#include "AppTestSupport.h"

#include "Vellox/app/AppDelegate.h"
#include "Vellox/app/OpenSettingsRequest.h"
#include "Vellox/app/SettingsWindow.h"
#include "Vellox/app/StatusDot.h"
#include "Vellox/app/VelloxApp.h"
#include "GlobalShortcuts/Key.h"
#include "platform/fake/FakeHotKeyBackend.h"

#include <QElapsedTimer>
#include <QPainter>
#include <QScreen>
#include <QSystemTrayIcon>

namespace {

using namespace app_test;

class AppDelegateTest : public ShellTest {
protected:
    AppDelegate::Hooks countingHooks()
    {
        return {[this] { ++servicesInstalled; }, [this] { ++rewritesStarted; }};
    }

    int servicesInstalled = 0;
    int rewritesStarted = 0;
};

TEST_F(AppDelegateTest, StartUpWritesItsLinesInOrderAndReturnsBeforeTheWarmUpEnds)
{
    AppDelegate delegate(countingHooks());
    delegate.applicationDidFinishLaunching();

    const QStringList before = systemLog().messages();
    const int begin = before.indexOf(QStringLiteral("applicationDidFinishLaunching: begin (no sync keychain/AX)"));
    const int returned = before.indexOf(QStringLiteral("applicationDidFinishLaunching: returned (scheduled async work)"));
    ASSERT_GE(begin, 0);
    EXPECT_GT(returned, begin);
    // Nothing the sequence starts in a task has run inline.
    EXPECT_FALSE(before.contains(QStringLiteral("presentIfNeeded: async keychain probe")));
    EXPECT_EQ(servicesInstalled, 1);

    QTRY_VERIFY_WITH_TIMEOUT(systemLog().messages().contains(QStringLiteral("keychain warmAccess done")), 20000);
    const QStringList after = systemLog().messages();
    const int warmStart = after.indexOf(QStringLiteral("keychain warmAccess start provider=openai-compatible"));
    EXPECT_GT(warmStart, begin);
    EXPECT_LT(warmStart, after.indexOf(QStringLiteral("keychain warmAccess done")));
    for (const auto& line : systemLog().lines()) {
        if (line.message.startsWith(QLatin1String("applicationDidFinishLaunching")) || line.message.startsWith("keychain")) {
            EXPECT_EQ(line.category, QStringLiteral("startup")) << line.message.toStdString();
        }
    }
    delegate.applicationWillTerminate();
    EXPECT_FALSE(delegate.isObservingActivation());
}

TEST_F(AppDelegateTest, KeyUpStartsOneRewriteOnlyWhileRewritingIsEnabled)
{
    AppDelegate delegate(countingHooks());
    delegate.applicationDidFinishLaunching();
    auto& hotKeys = fake::as<fake::FakeHotKeyBackend>(services().hotKeys);
    const qint64 keyT = GlobalShortcuts::Key::t.rawValue;

    PreferencesStore::shared().updateSettings([](AppSettings& s) { s.enabled = false; });
    ASSERT_TRUE(hotKeys.press(keyT, platform::CarbonModifier::control));
    ASSERT_TRUE(hotKeys.release(keyT, platform::CarbonModifier::control));
    QCoreApplication::processEvents();
    EXPECT_EQ(rewritesStarted, 0);

    // Resuming takes effect at the very next release: the handler reads the
    // stored settings, not a copy taken at launch.
    PreferencesStore::shared().updateSettings([](AppSettings& s) { s.enabled = true; });
    ASSERT_TRUE(hotKeys.press(keyT, platform::CarbonModifier::control));
    ASSERT_TRUE(hotKeys.release(keyT, platform::CarbonModifier::control));
    QCoreApplication::processEvents();
    EXPECT_EQ(rewritesStarted, 1);
}

TEST_F(AppDelegateTest, OpenSettingsRequestFromAnywhereOpensAndMarksTheSettingsWindow)
{
    AppDelegate delegate(countingHooks());
    VelloxApp scenes(&delegate, VelloxApp::Options{false});

    OpenSettingsRequest::post();
    ASSERT_NE(scenes.settingsWindow(), nullptr);
    EXPECT_TRUE(scenes.settingsWindow()->isVisible());
    EXPECT_EQ(UIWindowCoordinator::shared().activeSurface(), UIWindowCoordinator::Surface::settings);
    EXPECT_EQ(UIWindowCoordinator::windowIdentifier(scenes.settingsWindow()),
              UIWindowCoordinator::settingsWindowIdentifier);

    // Asked again while open: the window is closed and a fresh one opens.
    QPointer<SettingsWindow> first = scenes.settingsWindow();
    UIWindowCoordinator::shared().setActiveSurface(UIWindowCoordinator::Surface::none);
    OpenSettingsRequest::post();
    EXPECT_NE(scenes.settingsWindow(), first.data());
    EXPECT_TRUE(scenes.settingsWindow()->isVisible());
    EXPECT_EQ(UIWindowCoordinator::shared().activeSurface(), UIWindowCoordinator::Surface::settings);
    QTRY_VERIFY(first.isNull());
}

TEST_F(AppDelegateTest, ReopenAsksForSettingsOnlyWithoutVisibleWindows)
{
    AppDelegate delegate(countingHooks());
    VelloxApp scenes(&delegate, VelloxApp::Options{false});
    EXPECT_TRUE(delegate.applicationShouldHandleReopen(true));
    EXPECT_EQ(scenes.settingsWindow(), nullptr);
    EXPECT_TRUE(delegate.applicationShouldHandleReopen(false));
    ASSERT_NE(scenes.settingsWindow(), nullptr);
    EXPECT_TRUE(scenes.settingsWindow()->isVisible());
}

TEST_F(AppDelegateTest, SettingsOpenAfterLaunchUnlessOnboardingIsOnScreen)
{
    {
        // Onboarding completed: the settings window comes up after the delay.
        defaults().setValue(QString::fromLatin1(OnboardingWindowController::completedKey), true);
        AppDelegate delegate(countingHooks());
        VelloxApp scenes(&delegate, VelloxApp::Options{false});
        QElapsedTimer sinceLaunch;
        sinceLaunch.start();
        delegate.applicationDidFinishLaunching();
        EXPECT_EQ(scenes.settingsWindow(), nullptr);
        QTRY_VERIFY_WITH_TIMEOUT(scenes.settingsWindow() && scenes.settingsWindow()->isVisible(), 20000);
        // Measured rather than looked at half way, which a loaded machine can overshoot.
        EXPECT_GE(sinceLaunch.elapsed(), AppDelegate::kOpenSettingsDelayMs) << "the settings came before the delay";
    }
    {
        // First run: onboarding is up by then, so no settings window.
        defaults().remove(QString::fromLatin1(OnboardingWindowController::completedKey));
        AppDelegate delegate(countingHooks());
        VelloxApp scenes(&delegate, VelloxApp::Options{false});
        delegate.applicationDidFinishLaunching();
        QTRY_VERIFY_WITH_TIMEOUT(OnboardingWindowController::isWindowVisible(), 20000);
        QTest::qWait(AppDelegate::kOpenSettingsDelayMs + 200);
        EXPECT_EQ(scenes.settingsWindow(), nullptr);
    }
}

TEST_F(AppDelegateTest, TheNoTrayNoticeWaitsForOurWindowsToCloseAndNeverTakesTheKeyboard)
{
    const auto shownNotice = []() -> QWidget* {
        for (QWidget* window : QApplication::topLevelWidgets())
            if (window->objectName() == QLatin1String("trayAbsenceNotice") && window->isVisible())
                return window;
        return nullptr;
    };
    // No tray here, and the notice is due almost at once; onboarding and
    // the settings are open, as after a second launch during onboarding.
    AppDelegate delegate(countingHooks());
    OnboardingWindowController::installOnboardingWindow(OnboardingPanel::connect);
    VelloxApp scenes(&delegate, VelloxApp::Options{true, 20});
    scenes.openSettings();
    ASSERT_FALSE(scenes.trayIcon() && QSystemTrayIcon::isSystemTrayAvailable());

    QTest::qWait(300);
    EXPECT_EQ(shownNotice(), nullptr) << "the notice came over the settings";
    scenes.settingsWindow()->close();
    QTest::qWait(300);
    EXPECT_EQ(shownNotice(), nullptr) << "the notice came over onboarding";
    OnboardingWindowController::window()->close();
    QTRY_VERIFY_WITH_TIMEOUT(shownNotice() != nullptr, 20000);

    QWidget* notice = shownNotice();
    EXPECT_TRUE(notice->testAttribute(Qt::WA_ShowWithoutActivating));
    EXPECT_TRUE(notice->windowFlags().testFlag(Qt::WindowDoesNotAcceptFocus));
    // In the bottom right corner, away from where our windows open.
    const QRect area = notice->screen()->availableGeometry();
    EXPECT_TRUE(area.contains(notice->frameGeometry()));
    EXPECT_LT(area.right() - notice->frameGeometry().right(), 100);
    EXPECT_LT(area.bottom() - notice->frameGeometry().bottom(), 100);

    // Once is enough.
    notice->close();
    scenes.openSettings();
    scenes.settingsWindow()->close();
    QTest::qWait(300);
    EXPECT_EQ(shownNotice(), nullptr);
}

TEST_F(AppDelegateTest, TrayDotFollowsPermissionThenPhaseThenError)
{
    using Phase = RewriteChromeState::Phase;
    using Status = AccessibilityPermissionStatus;
    struct Case {
        const char* name;
        Status status;
        Phase phase;
        bool error;
        StatusDotState expected;
    };
    const Case cases[] = {
        {"denied hides a running rewrite and an error", Status::denied, Phase::working, true, StatusDotState::permission},
        {"checking with a rewrite", Status::checking, Phase::working, true, StatusDotState::working},
        {"granted with a rewrite", Status::granted, Phase::working, false, StatusDotState::working},
        {"pending error", Status::granted, Phase::idle, true, StatusDotState::error},
        {"nothing to say", Status::granted, Phase::idle, false, StatusDotState::none},
        {"checking alone", Status::checking, Phase::idle, false, StatusDotState::none},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(StatusDot::stateFor(c.status, c.phase, c.error), c.expected);
    }

    // The drawn dot: orange and small for the permission, red and larger for
    // an error. The symbol is grey, so the coloured pixels are the dot's.
    const auto dotPixels = [](StatusDotState state, QRgb* colour) {
        const QImage image = StatusDot::render(state, 22, 1.0).convertToFormat(QImage::Format_ARGB32);
        int count = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (qAlpha(image.pixel(x, y)) > 200 && qRed(image.pixel(x, y)) - qBlue(image.pixel(x, y)) > 120) {
                    ++count;
                    *colour = image.pixel(x, y);
                }
        return count;
    };
    QRgb permissionColour = 0, errorColour = 0, none = 0;
    const int permission = dotPixels(StatusDotState::permission, &permissionColour);
    const int error = dotPixels(StatusDotState::error, &errorColour);
    EXPECT_EQ(dotPixels(StatusDotState::none, &none), 0);
    EXPECT_GT(error, permission);
    EXPECT_GT(qRed(permissionColour), 200);
    EXPECT_GT(qGreen(permissionColour), 100);
    EXPECT_LT(qGreen(errorColour), 100);
}

TEST_F(AppDelegateTest, TraySymbolStandsOutOnDarkAndLightPanels)
{
    const QImage icon = StatusDot::render(StatusDotState::none, 22, 1.0);
    struct Case {
        const char* name;
        QColor panel;
    };
    const Case cases[] = {{"dark panel", QColor(0x20, 0x20, 0x20)}, {"light panel", QColor(0xf0, 0xf0, 0xf0)}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QImage shown(icon.size(), QImage::Format_ARGB32);
        shown.fill(c.panel);
        QPainter(&shown).drawImage(0, 0, icon);
        // Pixels far from the panel's own grey: the part of the symbol a
        // person can see there.
        int visible = 0;
        for (int y = 0; y < shown.height(); ++y)
            for (int x = 0; x < shown.width(); ++x)
                visible += qAbs(qGray(shown.pixel(x, y)) - qGray(c.panel.rgb())) > 120;
        EXPECT_GT(visible, 30);
    }
}

} // namespace
