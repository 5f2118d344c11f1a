#include "PanelsTestSupport.h"

#include "Vellox/panels/FeedbackHUD.h"
#include "Vellox/panels/FeedbackHUDView.h"

#include "platform/NotificationBus.h"

#include <QPushButton>
#include <QTest>

#include <cmath>
#include <limits>

using namespace panels_test;
using Level = RewriteFeedbackMessage::Level;

namespace {

class Notice : public PanelsTest {
protected:
    ~Notice() override
    {
        FeedbackHUD::hide();
        spinFor(1);
    }
};

TEST_F(Notice, SitsAtTheTopRightOfTheMainScreensVisibleArea)
{
    screens().list = {{QRectF(0, 0, 1440, 900), QRectF(0, 25, 1440, 875)}};
    EXPECT_EQ(FeedbackHUD::anchoredFrame({220, 40}), QRectF(1208, 33, 220, 40));
    screens().list = {{QRectF(-1920, 0, 1920, 1080), QRectF(-1920, 0, 1920, 1040)},
                      {QRectF(0, 0, 1440, 900), QRectF(0, 25, 1440, 875)}};
    screens().mainIndex = 1;
    EXPECT_EQ(FeedbackHUD::anchoredFrame({300, 50}), QRectF(1128, 33, 300, 50));
    screens().list.clear();
    EXPECT_EQ(FeedbackHUD::anchoredFrame({220, 40}), std::nullopt);
}

TEST(NoticeDuration, OddDurationsAreHeldToSaneOnes)
{
    struct Case {
        double seconds;
        int expectedMs;
    };
    const Case cases[] = {
        {2.5, 2500},
        {0, 0},
        {-1, 0},
        {std::nan(""), 0},
        {std::numeric_limits<double>::infinity(), 3'600'000},
        {-std::numeric_limits<double>::infinity(), 0},
        {1e300, 3'600'000},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FeedbackHUD::dismissDelayMs(c.seconds), c.expectedMs) << c.seconds;
}

TEST(NoticeView, ShortTextsFillTheMinimumAndLongOnesWrapToTwoLinesAtMost)
{
    const QString longText = QString("The provider refused the request because the key is not valid. ").repeated(4);
    struct Case {
        const char* name;
        RewriteFeedbackMessage message;
        int width;
        int lines;
        bool button;
    };
    const Case cases[] = {
        {"short", {"Done.", Level::success, std::nullopt}, 220, 1, false},
        {"long with an action", {longText, Level::error, RewriteFeedbackAction::openSettings}, 360, 2, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FeedbackHUDView view(c.message);
        const QSize size = view.fittingSize();
        EXPECT_EQ(size.width(), c.width);
        EXPECT_GE(size.height(), 40);
        view.resize(size);
        const QStringList lines = view.displayedLines();
        EXPECT_EQ(lines.size(), c.lines);
        EXPECT_EQ(view.actionButton() != nullptr, c.button);
        if (c.lines == 2) {
            EXPECT_TRUE(lines.last().endsWith(QChar(0x2026))) << "the rest is cut with an ellipsis";
        }
    }
}

TEST(NoticeView, ActionTitlesAndLevelColours)
{
    EXPECT_EQ(FeedbackHUDView::actionTitle(RewriteFeedbackAction::openAccessibilitySettings), "Open Settings");
    EXPECT_EQ(FeedbackHUDView::actionTitle(RewriteFeedbackAction::openSettings), "Settings");
    EXPECT_EQ(FeedbackHUDView::actionTitle(RewriteFeedbackAction::retryPermissionCheck), "Retry");
    QSet<QRgb> colours;
    for (Level level : {Level::info, Level::success, Level::warning, Level::error})
        colours.insert(FeedbackHUDView::levelColor(level, nullptr).rgba());
    EXPECT_EQ(colours.size(), 4);
}

TEST_F(Notice, ANewNoticeReplacesTheOldAtOnceAndKeepsItsOwnFullTime)
{
    FeedbackHUD::present({"First", Level::warning, std::nullopt}, 0.3);
    QPointer<FloatingPanel> first = FeedbackHUD::panel();
    ASSERT_TRUE(first);
    EXPECT_TRUE(first->windowFlags().testFlag(Qt::WindowDoesNotAcceptFocus));
    EXPECT_TRUE(first->testAttribute(Qt::WA_ShowWithoutActivating));
    spinFor(150);
    // The second's own time is long enough that a loaded machine cannot run
    // it out within the window in which the first's time ends.
    FeedbackHUD::present({"Second", Level::warning, std::nullopt}, 3);
    QPointer<FloatingPanel> second = FeedbackHUD::panel();
    EXPECT_TRUE(!first || !first->isVisible()) << "the first goes at once, without a fade";
    spinFor(300);
    ASSERT_TRUE(second);
    EXPECT_EQ(FeedbackHUD::panel(), second) << "the first notice's time does not end the second";
    EXPECT_TRUE(spinUntil([&] { return FeedbackHUD::panel() == nullptr; }));
    EXPECT_TRUE(spinUntil([&] { return !second; })) << "faded out, ordered out and deleted";
}

TEST_F(Notice, NoScreenShowsNothing)
{
    screens().list.clear();
    FeedbackHUD::present({"Hello", Level::info, std::nullopt}, 2.5);
    EXPECT_EQ(FeedbackHUD::panel(), nullptr);
}

TEST_F(Notice, TheSettingsButtonAsksForTheSettingsWindowAndLeavesTheNoticeUp)
{
    int requests = 0;
    QObject context;
    platform::Platform::current().notifications->observe("app.vellox.desktop.requestOpenSettings", &context,
                                                          [&](const QVariantMap&) { ++requests; });
    FeedbackHUD::present({"Choose a model first.", Level::error, RewriteFeedbackAction::openSettings}, 2.5);
    auto* view = static_cast<FeedbackHUDView*>(FeedbackHUD::panel()->content());
    QTest::mouseClick(view->actionButton(), Qt::LeftButton);
    EXPECT_EQ(requests, 1);
    EXPECT_NE(FeedbackHUD::panel(), nullptr);
}

TEST_F(Notice, DoesNotReportToTheCoordinator)
{
    UIWindowCoordinator::shared().markSurfaceVisible(UIWindowCoordinator::Surface::tonePicker);
    FeedbackHUD::present({"Hello", Level::info, std::nullopt}, 2.5);
    EXPECT_EQ(UIWindowCoordinator::shared().activeSurface(), UIWindowCoordinator::Surface::tonePicker);
}

} // namespace
