#include "AppTestSupport.h"

#include "Vellox/app/LinkButton.h"
#include "Vellox/app/MenuBarContentView.h"
#include "Vellox/app/MenuBarWindow.h"
#include "Vellox/app/MenuRow.h"
#include "Vellox/app/MenuRowToggle.h"
#include "Vellox/app/UsageCountFormat.h"
#include "Vellox/settings/VelloxLogStore.h"

#include <QFileInfo>
#include <QMessageBox>
#include <QLabel>

namespace {

using namespace app_test;

class MenuBarContentViewTest : public ShellTest {
protected:
    MenuBarContentViewTest()
        : window([this] { ++settingsOpened; }, [this] { ++terminated; })
    {
        window.popUp(QRect(600, 0, 24, 24));
    }

    MenuBarContentView& view() { return *window.content(); }

    // Lets the view follow what the test changed.
    void settle()
    {
        QCoreApplication::processEvents();
        view().rebuildNow();
    }

    template <class T = QWidget>
    T* find(const char* name)
    {
        return view().findChild<T*>(QString::fromLatin1(name));
    }
    template <class T = QWidget>
    QList<T*> all(const char* name)
    {
        QList<T*> found;
        for (T* child : view().findChildren<T*>(QString::fromLatin1(name)))
            if (!child->isHidden())
                found.append(child);
        return found;
    }

    void clickRow(const char* name)
    {
        MenuRow* row = find<MenuRow>(name);
        ASSERT_NE(row, nullptr) << name;
        row->click();
        QCoreApplication::processEvents();
    }

    int settingsOpened = 0;
    int terminated = 0;
    MenuBarWindow window;
};

TEST_F(MenuBarContentViewTest, PermissionStatusDecidesTheWholeContent)
{
    struct Case {
        const char* name;
        std::optional<bool> trusted; // none: still checking
        QStringList shown;
        QStringList absent;
    };
    const Case cases[] = {
        {"granted", true, {"toneRow", "pauseRow", "settingsRow", "quitRow"}, {"launchPlaceholder", "permissionPrompt"}},
        {"denied", false, {"permissionPrompt", "resumeButton", "quitRow"}, {"toneRow", "pauseRow", "settingsRow"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        setPermission(*c.trusted);
        settle();
        for (const QString& name : c.shown)
            EXPECT_FALSE(all(name.toLatin1().constData()).isEmpty()) << name.toStdString();
        for (const QString& name : c.absent)
            EXPECT_TRUE(all(name.toLatin1().constData()).isEmpty()) << name.toStdString();
    }

    // A denied prompt's Resume reopens onboarding on the permission step.
    find<QAbstractButton>("resumeButton")->click();
    QTRY_VERIFY_WITH_TIMEOUT(OnboardingWindowController::isWindowVisible(), 20000);
    EXPECT_FALSE(window.isVisible());
}

TEST_F(MenuBarContentViewTest, SixPresetsNeedNoExpansionRowAndSevenShowSixUntilExpanded)
{
    const QList<TonePreset> builtIns = TonePreset::builtIns();
    ASSERT_GE(builtIns.size(), 7);
    PreferencesStore::shared().updateSettings([&](AppSettings& s) {
        s.tonePresets = builtIns.mid(0, 6);
        s.defaultTonePresetId = builtIns[0].id;
    });
    settle();
    EXPECT_EQ(all<MenuRow>("toneRow").size(), 6);
    EXPECT_EQ(find<MenuRow>("expandTonesRow"), nullptr);

    // Seven, with the default stored last: it still comes first.
    PreferencesStore::shared().updateSettings([&](AppSettings& s) {
        s.tonePresets = builtIns.mid(0, 7);
        s.defaultTonePresetId = builtIns[6].id;
    });
    settle();
    QList<MenuRow*> tones = all<MenuRow>("toneRow");
    ASSERT_EQ(tones.size(), 6);
    EXPECT_EQ(tones.first()->content().title, builtIns[6].name);
    EXPECT_TRUE(tones.first()->content().isSelected);
    ASSERT_NE(find<MenuRow>("expandTonesRow"), nullptr);
    EXPECT_EQ(find<MenuRow>("expandTonesRow")->content().title, QStringLiteral("All tones"));

    clickRow("expandTonesRow");
    settle();
    EXPECT_EQ(all<MenuRow>("toneRow").size(), 7);
    EXPECT_EQ(find<MenuRow>("expandTonesRow")->content().title, QStringLiteral("Show fewer"));
    EXPECT_TRUE(window.isVisible()) << "expanding keeps the menu open";
    clickRow("expandTonesRow");
    settle();
    EXPECT_EQ(all<MenuRow>("toneRow").size(), 6);
}

TEST_F(MenuBarContentViewTest, ChoosingAToneEndsBothAskModesAndClosesTheMenu)
{
    PreferencesStore::shared().updateSettings([](AppSettings& s) { s.askAICommandEachTime = true; });
    settle();
    for (MenuRow* row : all<MenuRow>("toneRow"))
        EXPECT_FALSE(row->content().isSelected) << "no tone is checked while an ask mode is on";
    EXPECT_TRUE(find<MenuRow>("describeEditRow")->content().isSelected);

    // "Ask each time" on while "Describe the edit" is on leaves only the first.
    clickRow("askEachTimeRow");
    EXPECT_TRUE(PreferencesStore::shared().settings().askToneEachTime);
    EXPECT_FALSE(PreferencesStore::shared().settings().askAICommandEachTime);
    EXPECT_FALSE(window.isVisible());

    window.popUp(QRect(600, 0, 24, 24));
    settle();
    MenuRow* third = all<MenuRow>("toneRow").at(2);
    const QUuid chosen = third->property("presetId").toUuid();
    third->click();
    const AppSettings& settings = PreferencesStore::shared().settings();
    EXPECT_EQ(settings.defaultTonePresetId, chosen);
    EXPECT_FALSE(settings.askToneEachTime);
    EXPECT_FALSE(settings.askAICommandEachTime);
    EXPECT_EQ(PreferencesStore::readSettings().defaultTonePresetId, chosen) << "persisted at once";
    EXPECT_FALSE(window.isVisible());
}

TEST_F(MenuBarContentViewTest, PauseRowIsOnExactlyWhileRewritingIsPausedAndKeepsTheMenuOpen)
{
    auto* pause = find<MenuRowToggle>("pauseRow");
    ASSERT_NE(pause, nullptr);
    EXPECT_FALSE(pause->isOn());
    pause->click();
    EXPECT_FALSE(PreferencesStore::shared().settings().enabled);
    EXPECT_FALSE(PreferencesStore::readSettings().enabled);
    EXPECT_TRUE(window.isVisible());
    settle();
    EXPECT_TRUE(find<MenuRowToggle>("pauseRow")->isOn());
}

TEST_F(MenuBarContentViewTest, UsageFootnoteShowsFromOneRewriteWithGroupedAndCompactCounts)
{
    struct Case {
        qint64 count;
        const char* footnote; // nullptr: no footnote and no divider
    };
    const Case cases[] = {
        {0, nullptr},
        {1, "Rewrites today: 1"},
        {9'999, "Rewrites today: 9,999"},
        {10'000, "Rewrites today: 10K"},
    };
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.count);
        setUsageCount(c.count);
        MenuBarWindow fresh([] {}, [] {});
        fresh.popUp(QRect(600, 0, 24, 24));
        auto* footnote = fresh.content()->findChild<QLabel*>(QStringLiteral("usageFootnote"));
        if (!c.footnote) {
            EXPECT_EQ(footnote, nullptr);
            continue;
        }
        ASSERT_NE(footnote, nullptr);
        EXPECT_EQ(fresh.content()->usageFootnoteText(), QString::fromLatin1(c.footnote));
    }
}

TEST_F(MenuBarContentViewTest, CompactCountsRoundUpToTheNextUnit)
{
    const QLocale english(QLocale::English, QLocale::UnitedStates);
    struct Case {
        qint64 count;
        const char* text;
    };
    const Case cases[] = {{9'999, "9,999"},   {10'000, "10K"},    {12'345, "12.3K"},
                          {999'960, "1M"},    {1'500'000, "1.5M"}, {2'000'000'000, "2B"}};
    for (const Case& c : cases)
        EXPECT_EQ(UsageCountFormat::format(c.count, english), QString::fromLatin1(c.text)) << c.count;
}

TEST_F(MenuBarContentViewTest, RunningRewriteWinsOverAStoredErrorUntilItEnds)
{
    RewriteFeedbackState::shared().setLastError(
        RewriteFeedbackMessage{QStringLiteral("Boom"), RewriteFeedbackMessage::Level::error, std::nullopt});
    RewriteChromeState::shared().setPhase(RewriteChromeState::Phase::working);
    settle();
    EXPECT_NE(find("statusBanner"), nullptr);
    EXPECT_EQ(find("errorBanner"), nullptr);

    RewriteChromeState::shared().setPhase(RewriteChromeState::Phase::idle);
    settle();
    EXPECT_EQ(find("statusBanner"), nullptr);
    ASSERT_NE(find("errorBanner"), nullptr);
    // Without an action: only "View log" and "Dismiss".
    EXPECT_EQ(find("remedyLink"), nullptr);
    EXPECT_NE(find("viewLogLink"), nullptr);

    find<QAbstractButton>("dismissButton")->click();
    EXPECT_FALSE(RewriteFeedbackState::shared().lastError().has_value());
    EXPECT_FALSE(window.isVisible());
}

TEST_F(MenuBarContentViewTest, EachRemedyLinkRunsItsAction)
{
    struct Case {
        RewriteFeedbackAction action;
        const char* title;
    };
    const Case cases[] = {
        {RewriteFeedbackAction::openAccessibilitySettings, "Open Accessibility Settings"},
        {RewriteFeedbackAction::openSettings, "Settings"},
        {RewriteFeedbackAction::retryPermissionCheck, "Retry"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.title);
        window.popUp(QRect(600, 0, 24, 24));
        RewriteFeedbackState::shared().setLastError(
            RewriteFeedbackMessage{QStringLiteral("Failed"), RewriteFeedbackMessage::Level::error, c.action});
        settle();
        auto* remedy = find<LinkButton>("remedyLink");
        ASSERT_NE(remedy, nullptr);
        EXPECT_EQ(remedy->title(), QString::fromLatin1(c.title));

        const int settingsBefore = settingsOpened;
        const int panesBefore = opener().accessibilitySettingsOpened;
        const int queriesBefore = trust().queries.load();
        remedy->click();
        EXPECT_FALSE(window.isVisible()) << "every remedy closes the menu";
        switch (c.action) {
        case RewriteFeedbackAction::openAccessibilitySettings:
            EXPECT_EQ(opener().accessibilitySettingsOpened, panesBefore + 1);
            EXPECT_GE(trust().prompts.load(), 1);
            break;
        case RewriteFeedbackAction::openSettings:
            // The settings open one turn later, after the menu has gone.
            EXPECT_EQ(settingsOpened, settingsBefore);
            QCoreApplication::processEvents();
            EXPECT_EQ(settingsOpened, settingsBefore + 1);
            EXPECT_EQ(UIWindowCoordinator::shared().activeSurface(), UIWindowCoordinator::Surface::settings);
            break;
        case RewriteFeedbackAction::retryPermissionCheck:
            QTRY_VERIFY_WITH_TIMEOUT(trust().queries.load() > queriesBefore, 20000);
            break;
        }
    }
}

TEST_F(MenuBarContentViewTest, ViewLogCreatesAMissingLogFileAndOpensIt)
{
    RewriteFeedbackState::shared().setLastError(
        RewriteFeedbackMessage{QStringLiteral("Failed"), RewriteFeedbackMessage::Level::error, std::nullopt});
    settle();
    const QString path = VelloxLogStore::fileURL().toLocalFile();
    ASSERT_FALSE(QFileInfo::exists(path));
    find<QAbstractButton>("viewLogLink")->click();
    EXPECT_TRUE(QFileInfo::exists(path));
    ASSERT_FALSE(opener().urls.isEmpty());
    EXPECT_EQ(opener().urls.last(), QUrl::fromLocalFile(path));
    EXPECT_FALSE(window.isVisible());
}

TEST_F(MenuBarContentViewTest, ALogTheDesktopCannotOpenIsNamedInAWindow)
{
    opener().refuseUrls = true;
    RewriteFeedbackState::shared().setLastError(
        RewriteFeedbackMessage{QStringLiteral("Failed"), RewriteFeedbackMessage::Level::error, std::nullopt});
    settle();
    find<QAbstractButton>("viewLogLink")->click();
    QMessageBox* notice = nullptr;
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            for (QWidget* widget : QApplication::topLevelWidgets())
                if (widget->objectName() == QLatin1String("openFailedNotice") && widget->isVisible())
                    notice = qobject_cast<QMessageBox*>(widget);
            return notice != nullptr;
        }(),
        2000);
    EXPECT_TRUE(notice->text().contains(VelloxLogStore::fileURL().toLocalFile())) << notice->text().toStdString();
    EXPECT_TRUE(notice->text().contains(QStringLiteral("xdg-utils")));
    delete notice;
}

TEST_F(MenuBarContentViewTest, ThePopoverReportsItsOwnWindowAndQuitEndsTheApp)
{
    EXPECT_EQ(UIWindowCoordinator::shared().activeSurface(), UIWindowCoordinator::Surface::menuPopover);
    EXPECT_EQ(UIWindowCoordinator::windowIdentifier(&window), UIWindowCoordinator::menuPopoverWindowIdentifier);
    EXPECT_EQ(window.width(), MenuBarContentView::kWidth + 2);
    clickRow("quitRow");
    EXPECT_EQ(terminated, 1);
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(UIWindowCoordinator::shared().activeSurface(), UIWindowCoordinator::Surface::none);
}

TEST_F(MenuBarContentViewTest, PopoverOpensBelowATopTrayAndAboveABottomOneInsideTheScreen)
{
    const QRect screen(0, 0, 1280, 800);
    const QSize size(330, 400);
    EXPECT_EQ(MenuBarWindow::placement(QRect(1260, 0, 20, 24), size, screen), QPoint(1280 - 330, 28));
    EXPECT_EQ(MenuBarWindow::placement(QRect(600, 776, 24, 24), size, screen), QPoint(611 - 165, 776 - 4 - 400));
}

} // namespace
