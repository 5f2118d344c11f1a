#include "../TextWindowProcess.h"

#include "platform/linux/X11AccessibilityTrust.h"
#include "platform/linux/X11Workspace.h"

#include <QGuiApplication>

#include <gtest/gtest.h>

namespace {

// A window of a new process gets the focus quickly, but not on a loaded machine.
constexpr int kFocusWaitMs = 15000;

class WorkspaceX11Test : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            GTEST_SKIP() << "needs an X display";
    }

    bool frontIs(const TextWindowProcess& window)
    {
        return rewrite_test::spinUntil([&] {
            const auto front = workspace.frontmostApplication();
            return front && front->pid == window.pid();
        }, kFocusWaitMs);
    }

    platform::linuxbackend::X11Workspace workspace;
};

} // namespace

TEST_F(WorkspaceX11Test, NamesTheFocusedWindowsProcessAndGivesTheFocusBack)
{
    EXPECT_TRUE(platform::linuxbackend::X11AccessibilityTrust().isTrusted());

    TextWindowProcess first(QStringLiteral("first"));
    ASSERT_TRUE(first.isReady() && frontIs(first));
    const auto firstFront = workspace.frontmostApplication();
    ASSERT_TRUE(firstFront);
    EXPECT_NE(firstFront->window, 0u);
    EXPECT_FALSE(firstFront->windowClass.isEmpty());

    TextWindowProcess second(QStringLiteral("second"));
    ASSERT_TRUE(second.isReady() && frontIs(second));

    // What a panel does when it closes: the application it interrupted gets
    // the focus back.
    EXPECT_TRUE(workspace.activate(*firstFront));
    EXPECT_TRUE(frontIs(first));
}
