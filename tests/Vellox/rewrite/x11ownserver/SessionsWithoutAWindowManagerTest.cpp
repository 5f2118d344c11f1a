#include "../ShortcutRoadX11Fixture.h"
#include "support/StopProcess.h"
#include "support/XlibScript.h"

#include <QFile>

namespace {

using namespace rewrite_test;

constexpr int kRounds = 10;

// Output of an X tool, empty when it failed.
QString runTool(const QString& program, const QStringList& arguments)
{
    QProcess tool;
    tool.start(program, arguments);
    if (!tool.waitForFinished(20000) || tool.exitCode() != 0)
        return {};
    return QString::fromLocal8Bit(tool.readAllStandardOutput());
}

QString rootProperty(const char* name)
{
    return runTool(QStringLiteral("xprop"), {QStringLiteral("-root"), QString::fromLatin1(name)});
}

bool namesWindow(const QString& xpropLine, quint64 window)
{
    return xpropLine.contains(QStringLiteral("0x") + QString::number(window, 16));
}

// A program of the session (a window manager), ended with the test.
class SessionProgram {
public:
    SessionProgram(const QString& program, const QStringList& arguments)
    {
        process_.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
        process_.setStandardOutputFile(QProcess::nullDevice());
        process_.setStandardErrorFile(QProcess::nullDevice());
        process_.start(program, arguments);
    }
    ~SessionProgram() { test_support::stopProcess(process_); }

    bool started() { return process_.waitForStarted(10000); }
    // As when it crashes: nothing of it tidies up.
    void crash()
    {
        process_.kill();
        process_.waitForFinished(10000);
    }

private:
    QProcess process_;
};

class SessionsWithoutAWindowManagerTest : public ShortcutRoadX11Fixture {
protected:
    // The window's parent, as xwininfo names it.
    static QString parentOf(quint64 window)
    {
        const QString tree = runTool(QStringLiteral("xwininfo"), {QStringLiteral("-children"), QStringLiteral("-id"),
                                                                  QString::number(window)});
        for (const QString& line : tree.split(QLatin1Char('\n'))) {
            if (line.contains(QStringLiteral("Parent window id:")))
                return line;
        }
        return {};
    }

    static void movePointerInto(quint64 window)
    {
        runTool(QStringLiteral("xdotool"), {QStringLiteral("mousemove"), QStringLiteral("--window"),
                                            QString::number(window), QStringLiteral("60"), QStringLiteral("40")});
    }
};

} // namespace

// The window manager dies while one window is active and one without the
// desktop hints takes over; the root window still names that window active.
// The user works in another application, a GTK one.
TEST_F(SessionsWithoutAWindowManagerTest, AStaleActiveWindowPropertyNeitherBreaksTheRewriteNorLosesTheClipboard)
{
    useLoopbackProvider();
    bePatient();
    QFile openboxConfig(home.filePath(QStringLiteral("openbox-rc.xml")));
    ASSERT_TRUE(openboxConfig.open(QIODevice::WriteOnly));
    openboxConfig.write(R"(<?xml version="1.0" encoding="UTF-8"?>
<openbox_config xmlns="http://openbox.org/3.4/rc">
  <focus><focusNew>yes</focusNew><followMouse>no</followMouse></focus>
  <keyboard></keyboard>
</openbox_config>
)");
    openboxConfig.close();
    SessionProgram openbox(QStringLiteral("openbox"),
                           {QStringLiteral("--sm-disable"), QStringLiteral("--config-file"), openboxConfig.fileName()});
    ASSERT_TRUE(openbox.started());
    ASSERT_TRUE(spinUntil([] { return rootProperty("_NET_SUPPORTING_WM_CHECK").contains(QStringLiteral("window id")); },
                          kFocusWaitMs))
        << "openbox never came up";

    TextWindowProcess target(TextWindowProcess::GtkWidget::textView, QStringLiteral("hello brave world"));
    ASSERT_TRUE(target.isReady() && hasTheKeyboard(target.pid())) << "the GTK window never got the focus";
    const quint64 targetWindow = platform::Platform::current().workspace->frontmostApplication()->window;
    TextWindowProcess bystander(QStringLiteral("the window active when the manager died"));
    ASSERT_TRUE(bystander.isReady() && hasTheKeyboard(bystander.pid()));
    const quint64 staleWindow = platform::Platform::current().workspace->frontmostApplication()->window;

    openbox.crash();
    QFile twmConfig(home.filePath(QStringLiteral("twmrc")));
    ASSERT_TRUE(twmConfig.open(QIODevice::WriteOnly));
    // Its default font comes with a font package the server need not have.
    twmConfig.write("TitleFont \"fixed\"\nResizeFont \"fixed\"\nMenuFont \"fixed\"\nIconFont \"fixed\"\n"
                    "IconManagerFont \"fixed\"\nRandomPlacement\nNoGrabServer\n");
    twmConfig.close();
    SessionProgram twm(QStringLiteral("twm"), {QStringLiteral("-f"), twmConfig.fileName()});
    ASSERT_TRUE(twm.started());
    // twm frames the windows it takes over, and gives the keyboard to the one
    // the pointer enters: the other window lies over the part of the GTK one
    // the pointer goes to, so its frame must be in place before the pointer
    // moves, or it would take the keyboard as it appears under the pointer.
    const auto framed = [](quint64 window) {
        const QString parent = parentOf(window);
        return !parent.isEmpty() && !parent.contains(QStringLiteral("root window"));
    };
    ASSERT_TRUE(spinUntil([&] { return framed(targetWindow) && framed(staleWindow); }, kFocusWaitMs))
        << "twm never took both windows over";
    ASSERT_TRUE(spinUntil([&] {
        movePointerInto(targetWindow);
        runTool(QStringLiteral("xdotool"), {QStringLiteral("windowfocus"), QString::number(targetWindow)});
        return target.saysItHasTheKeyboard();
    }, kFocusWaitMs)) << "the GTK window never got the keyboard back";
    ASSERT_TRUE(namesWindow(rootProperty("_NET_ACTIVE_WINDOW"), staleWindow))
        << "the root window no longer names the window active when openbox died";

    EXPECT_EQ(roundsThatHold(target, kRounds, 0), kRounds);
}

// No window manager: the focus stays at PointerRoot and keys go to the window
// under the pointer, a Qt one slow to paste, beside a clipboard manager.
TEST_F(SessionsWithoutAWindowManagerTest, WithTheFocusAtPointerRootTheWindowUnderThePointerGetsTheAnswer)
{
    useLoopbackProvider();
    bePatient();
    for (const char* stale : {"_NET_ACTIVE_WINDOW", "_NET_SUPPORTING_WM_CHECK"})
        runTool(QStringLiteral("xprop"), {QStringLiteral("-root"), QStringLiteral("-remove"), QString::fromLatin1(stale)});
    ClipboardManager manager(home.filePath(QStringLiteral("manager")));
    ASSERT_TRUE(manager.ready());

    // Without a window manager the window focuses itself as it starts.
    TextWindowProcess target(QStringLiteral("hello brave world"));
    ASSERT_TRUE(target.isReady() && hasTheKeyboard(target.pid()));
    const quint64 targetWindow = platform::Platform::current().workspace->frontmostApplication()->window;
    // What a session without a window manager keeps: the server's focus at
    // PointerRoot. No tool sets it, so Xlib is called directly.
    ASSERT_TRUE(test_support::runXlibScript(QStringLiteral(R"(
x.XSetInputFocus.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_ulong]
x.XSetInputFocus(display, 1, 1, 0)  # PointerRoot, RevertToPointerRoot, CurrentTime
)")).has_value());
    movePointerInto(targetWindow);

    constexpr int kSlowPasteMs = 150;
    EXPECT_EQ(roundsThatHold(target, kRounds, kSlowPasteMs), kRounds);
}
