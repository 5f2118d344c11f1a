#include "RewriteTestSupport.h"

#include "Vellox/rewrite/SelectionAnchorResolver.h"

#include <QElapsedTimer>

#include <gtest/gtest.h>

using platform::SelectionLocator;
using SelectionAnchorResolver::AnchorSource;
using SelectionAnchorResolver::Placement;
using Screen = platform::Screens::Screen;

namespace {

class SelectionAnchorResolverTest : public ::testing::Test {
protected:
    SelectionAnchorResolverTest()
    {
        SelectionAnchorResolver::resetCacheForTesting();
        // One screen whose visible area spans (0, 25)-(1440, 900).
        fakes.screens().list = {{QRectF(0, 0, 1440, 900), QRectF(0, 25, 1440, 875)}};
    }
    ~SelectionAnchorResolverTest() override { SelectionAnchorResolver::resetCacheForTesting(); }

    void selectionAt(const QRectF& rect) { fakes.locator().fallback = SelectionLocator::FocusedElement{rect, QRectF(0, 0, 10, 10)}; }

    platform::PlatformGuard guard;
    rewrite_test::Fakes fakes;
};

} // namespace

TEST_F(SelectionAnchorResolverTest, PlacesBelowOrBesideTheSelectionAndKeepsItOnScreen)
{
    struct Case {
        const char* name;
        QRectF selection;
        QSizeF size;
        Placement placement;
        QRectF expected;
    };
    const Case cases[] = {
        {"below: top 8 under the selection, left edges aligned", QRectF(200, 300, 120, 18), QSizeF(260, 300),
         Placement::below, QRectF(200, 326, 260, 300)},
        {"beside: 6 to the right, centred vertically", QRectF(200, 300, 120, 20), QSizeF(26, 26), Placement::beside,
         QRectF(326, 297, 26, 26)},
        {"beside at the right edge is pulled back inside", QRectF(1400, 300, 36, 20), QSizeF(26, 26),
         Placement::beside, QRectF(1440 - 26 - 4, 297, 26, 26)},
        {"below near the bottom is raised over the selection", QRectF(100, 850, 100, 20), QSizeF(200, 120),
         Placement::below, QRectF(100, 900 - 120 - 4, 200, 120)},
        {"taller than the screen: aligned 4 inside the top", QRectF(100, 400, 50, 20), QSizeF(200, 1000),
         Placement::below, QRectF(100, 29, 200, 1000)},
        {"left of the screen is pushed in", QRectF(-50, 400, 20, 20), QSizeF(100, 100), Placement::below,
         QRectF(4, 428, 100, 100)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SelectionAnchorResolver::resetCacheForTesting();
        selectionAt(c.selection);
        const auto result = SelectionAnchorResolver::resolve(c.size, c.placement);
        EXPECT_EQ(result.source, AnchorSource::selection);
        EXPECT_EQ(result.rect, c.expected);
    }
    EXPECT_TRUE(fakes.log().messages().contains(QStringLiteral("anchor source=selection")));
}

TEST_F(SelectionAnchorResolverTest, CaretOnlyUsesTheFocusedElementsFrame)
{
    fakes.locator().fallback = SelectionLocator::FocusedElement{std::nullopt, QRectF(300, 200, 400, 30)};
    const auto result = SelectionAnchorResolver::resolve(QSizeF(100, 50), Placement::below);
    EXPECT_EQ(result.source, AnchorSource::selection);
    EXPECT_EQ(result.rect, QRectF(300, 238, 100, 50));
}

TEST_F(SelectionAnchorResolverTest, LaterLookupsAnswerAfterShortWaits)
{
    fakes.locator().script = {std::nullopt, std::nullopt};
    selectionAt(QRectF(100, 100, 50, 20));
    QElapsedTimer elapsed;
    elapsed.start();
    const auto result = SelectionAnchorResolver::resolve(QSizeF(20, 20), Placement::below);
    EXPECT_EQ(result.source, AnchorSource::selection);
    EXPECT_EQ(fakes.locator().lookups, 3);
    EXPECT_GE(elapsed.elapsed(), 75);
}

TEST_F(SelectionAnchorResolverTest, FallsBackToARecentSelectionThenToTheMouse)
{
    selectionAt(QRectF(100, 100, 50, 20));
    SelectionAnchorResolver::resolve(QSizeF(20, 20), Placement::below);
    fakes.locator().fallback.reset();
    fakes.screens().mouse = QPointF(500, 300);

    fakes.clock().advance(1500);
    auto result = SelectionAnchorResolver::resolve(QSizeF(20, 20), Placement::below);
    EXPECT_EQ(result.source, AnchorSource::selection);
    EXPECT_EQ(result.rect, QRectF(100, 128, 20, 20));
    EXPECT_TRUE(fakes.log().messages().contains(QStringLiteral("anchor source=selection(cache)")));

    fakes.clock().advance(2500);
    result = SelectionAnchorResolver::resolve(QSizeF(26, 26), Placement::below);
    EXPECT_EQ(result.source, AnchorSource::mouse);
    EXPECT_EQ(result.rect, QRectF(510, 287, 26, 26));
}

TEST_F(SelectionAnchorResolverTest, WithoutTrustNothingIsLookedUpAndTheMouseIsUsed)
{
    fakes.trust().trusted = false;
    selectionAt(QRectF(100, 100, 50, 20));
    fakes.screens().mouse = QPointF(500, 300);
    const auto result = SelectionAnchorResolver::resolve(QSizeF(26, 26), Placement::beside);
    EXPECT_EQ(fakes.locator().lookups, 0);
    EXPECT_EQ(result.source, AnchorSource::mouse);
}

TEST_F(SelectionAnchorResolverTest, MouseOffEveryScreenCentresOnTheMainScreen)
{
    fakes.screens().list = {{QRectF(0, 0, 1000, 800), QRectF(0, 0, 1000, 800)},
                            {QRectF(1000, 0, 800, 600), QRectF(1000, 30, 800, 570)}};
    fakes.screens().mainIndex = 1;
    fakes.screens().mouse = QPointF(-500, -500);
    const auto result = SelectionAnchorResolver::resolve(QSizeF(100, 50), Placement::below);
    EXPECT_EQ(result.source, AnchorSource::center);
    EXPECT_EQ(result.rect, QRectF(1350, 290, 100, 50));
}

TEST_F(SelectionAnchorResolverTest, EqualOverlapPrefersTheFirstScreen)
{
    // A panel straddling two screens equally is clamped into the first.
    fakes.screens().list = {{QRectF(0, 0, 1000, 800), QRectF(0, 0, 1000, 800)},
                            {QRectF(1000, 0, 1000, 800), QRectF(1000, 0, 1000, 800)}};
    selectionAt(QRectF(850, 100, 200, 20));
    const auto result = SelectionAnchorResolver::resolve(QSizeF(300, 50), Placement::below);
    EXPECT_EQ(result.rect, QRectF(1000 - 300 - 4, 128, 300, 50));
}

TEST_F(SelectionAnchorResolverTest, NoScreenAtAllGivesTheOrigin)
{
    fakes.screens().list.clear();
    const auto result = SelectionAnchorResolver::resolve(QSizeF(30, 40), Placement::below);
    EXPECT_EQ(result.source, AnchorSource::center);
    EXPECT_EQ(result.rect, QRectF(0, 0, 30, 40));
}
