#include "../TextWindowProcess.h"
#include "support/DesktopPlatform.h"

#include "Vellox/rewrite/SelectionAnchorResolver.h"
#include "platform/SelectionLocator.h"
#include "platform/Workspace.h"

#include <QDBusConnection>
#include <QGuiApplication>

#include <gtest/gtest.h>

namespace {

// A window of a new process gets the focus quickly, but not on a loaded machine.
constexpr int kFocusWaitMs = 15000;

constexpr double kTolerance = 4;

class SelectionLocatorAtSpiTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            GTEST_SKIP() << "needs an X display";
        if (!QDBusConnection::sessionBus().isConnected())
            GTEST_SKIP() << "needs a session bus";
    }

    // The window registers with the accessibility registry shortly after it
    // starts; ask until it answers.
    std::optional<platform::SelectionLocator::FocusedElement>
    lookUp(const std::function<bool(const platform::SelectionLocator::FocusedElement&)>& good)
    {
        std::optional<platform::SelectionLocator::FocusedElement> found;
        rewrite_test::spinUntil(
            [&] {
                found = platform::Platform::current().selectionLocator->focusedElement();
                return found && good(*found);
            },
            15000);
        return found;
    }

    platform::PlatformGuard guard{desktopWithFakeStores()};
};

void expectNear(const QRectF& actual, const QRect& expected)
{
    SCOPED_TRACE(testing::Message() << "actual " << actual.x() << "," << actual.y() << " " << actual.width() << "x"
                                    << actual.height() << "; expected " << expected.x() << "," << expected.y() << " "
                                    << expected.width() << "x" << expected.height());
    EXPECT_NEAR(actual.left(), expected.left(), kTolerance);
    EXPECT_NEAR(actual.top(), expected.top(), kTolerance);
    EXPECT_NEAR(actual.right(), expected.left() + expected.width(), kTolerance);
    EXPECT_NEAR(actual.bottom(), expected.top() + expected.height(), kTolerance);
}

} // namespace

TEST_F(SelectionLocatorAtSpiTest, ReportsTheSelectionWhereTheTextWidgetDrawsIt)
{
    TextWindowProcess window(QStringLiteral("hello brave new world"), accessibleEnvironment());
    ASSERT_TRUE(window.isReady());
    ASSERT_TRUE(rewrite_test::spinUntil([&] {
        const auto front = platform::Platform::current().workspace->frontmostApplication();
        return front && front->pid == window.pid();
    }, kFocusWaitMs));
    const QRect selected = window.select(6, 15);
    ASSERT_FALSE(selected.isEmpty());

    const auto element = lookUp([](const auto& e) { return e.selectionBounds.has_value(); });
    ASSERT_TRUE(element && element->selectionBounds) << "no selection extents over the accessibility bus";
    expectNear(*element->selectionBounds, selected);
    ASSERT_TRUE(element->elementBounds);
    EXPECT_TRUE(element->elementBounds->contains(element->selectionBounds->center()));

    // The panels are placed from it: 8 pixels under the selection.
    const auto anchor = SelectionAnchorResolver::resolve(QSizeF(200, 100), SelectionAnchorResolver::Placement::below);
    EXPECT_EQ(anchor.source, SelectionAnchorResolver::AnchorSource::selection);
    EXPECT_NEAR(anchor.rect.top(), selected.top() + selected.height() + 8, kTolerance);
    EXPECT_NEAR(anchor.rect.left(), selected.left(), kTolerance);

    // A bare caret has no extents of its own: the element's frame stands in.
    window.select(3, 3);
    const auto caret = lookUp([](const auto& e) { return !e.selectionBounds.has_value(); });
    ASSERT_TRUE(caret);
    EXPECT_TRUE(caret->elementBounds);
}
