#include "../TextWindowProcess.h"

#include "platform/linux/X11AccessibilityTrust.h"
#include "platform/linux/X11Workspace.h"
#include "support/XlibScript.h"

#include <QGuiApplication>
#include <QWidget>

#include <gtest/gtest.h>

#include <optional>

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

    // Runs `script` with the Xlib calls below declared (no tool sets a
    // property of type WINDOW); its output, or none when it failed.
    static std::optional<QByteArray> xlib(const QString& script, const QStringList& arguments = {})
    {
        const QString declarations = QStringLiteral(R"(
for name in ("XCreateSimpleWindow", "XInternAtom"):
    getattr(x, name).restype = ctypes.c_ulong
x.XCreateSimpleWindow.argtypes = ([ctypes.c_void_p, ctypes.c_ulong] + [ctypes.c_int] * 2 + [ctypes.c_uint] * 3
                                  + [ctypes.c_ulong] * 2)
x.XDestroyWindow.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
x.XChangeProperty.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong, ctypes.c_ulong, ctypes.c_int,
                              ctypes.c_int, ctypes.c_void_p, ctypes.c_int]
)");
        return test_support::runXlibScript(declarations + script, arguments);
    }

    // Names `window` the active one on the root window, as a window manager
    // does; it stays so until the manager next moves the keyboard.
    static bool nameActive(quint64 window)
    {
        // Type WINDOW (33), format 32, PropModeReplace (0).
        return xlib(QStringLiteral(R"(window = (ctypes.c_ulong * 1)(int(sys.argv[1]))
x.XChangeProperty(display, root, x.XInternAtom(display, b"_NET_ACTIVE_WINDOW", 0), 33, 32, 0, window, 1)
)"),
                    {QString::number(window)})
            .has_value();
    }

    // A window another client made and destroyed again, never shown, so no
    // window manager took notice of it.
    static quint64 anotherClientsWindowGone()
    {
        return xlib(QStringLiteral(R"(window = x.XCreateSimpleWindow(display, root, 0, 0, 10, 10, 0, 0, 0)
x.XDestroyWindow(display, window)
print(window)
)"))
            .value_or(QByteArray())
            .toULongLong();
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

// A panel of ours that closes is gone before the window manager has handed the
// keyboard on, and meanwhile the root window still names it. It must read as
// ours: a panel that follows, or the paste, would otherwise take it for the
// user's application.
TEST_F(WorkspaceX11Test, AWindowOfOursAlreadyGoneStillReadsAsOurs)
{
    const auto before = workspace.frontmostApplication();
    quint64 ours = 0;
    {
        QWidget panel;
        ours = panel.winId();
    }
    ASSERT_TRUE(nameActive(ours));
    const auto front = workspace.frontmostApplication();
    ASSERT_TRUE(front);
    EXPECT_EQ(front->window, ours);
    EXPECT_EQ(front->pid, QCoreApplication::applicationPid());

    // Another client's window, gone as well, is not taken for ours.
    const quint64 theirs = anotherClientsWindowGone();
    ASSERT_NE(theirs, 0u);
    ASSERT_TRUE(nameActive(theirs));
    const auto gone = workspace.frontmostApplication();
    ASSERT_TRUE(gone);
    EXPECT_EQ(gone->window, theirs);
    EXPECT_EQ(gone->pid, 0);

    nameActive(before ? before->window : 0);
}
