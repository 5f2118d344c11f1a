#include "PanelsTestSupport.h"

#include "Vellox/panels/RewriteBusySpinner.h"

using namespace panels_test;
using Surface = UIWindowCoordinator::Surface;

namespace {

class Spinner : public PanelsTest {
protected:
    ~Spinner() override { RewriteBusySpinner::hide(); }
};

TEST_F(Spinner, ShowsBesideTheSelectionOnceAndLetsClicksThrough)
{
    log().clear();
    RewriteBusySpinner::show();
    FloatingPanel* panel = RewriteBusySpinner::panel();
    ASSERT_TRUE(panel);
    EXPECT_EQ(panel->cardFrame(), QRectF(selection.right() + 6, selection.center().y() - 13, 26, 26));
    EXPECT_EQ(panel->opacity(), 1);
    EXPECT_TRUE(panel->windowFlags().testFlag(Qt::WindowTransparentForInput));
    EXPECT_TRUE(panel->windowFlags().testFlag(Qt::WindowDoesNotAcceptFocus));
    const QStringList afterFirst = log().messages();
    const int lookups = locator().lookups;

    RewriteBusySpinner::show();
    EXPECT_EQ(RewriteBusySpinner::panel(), panel);
    EXPECT_EQ(log().messages(), afterFirst) << "a second show calls nothing";
    EXPECT_EQ(locator().lookups, lookups);
    EXPECT_EQ(UIWindowCoordinator::shared().activeSurface(), Surface::spinner);
}

TEST_F(Spinner, HidingTakesItAwayAndReportsTheSurfaceHidden)
{
    RewriteBusySpinner::show();
    QPointer<FloatingPanel> panel = RewriteBusySpinner::panel();
    RewriteBusySpinner::hide();
    EXPECT_EQ(RewriteBusySpinner::panel(), nullptr);
    EXPECT_FALSE(panel && panel->isVisible());
    EXPECT_EQ(UIWindowCoordinator::shared().activeSurface(), Surface::none);
    EXPECT_TRUE(spinUntil([&] { return !panel; }, 20000));
    log().clear();
    RewriteBusySpinner::hide();
    EXPECT_TRUE(log().messages().isEmpty());
}

} // namespace
