#pragma once

#include "platform/Platform.h"
#include "platform/linux/AtSpiSelectionLocator.h"
#include "platform/linux/QtScreens.h"
#include "platform/linux/X11GlobalMouseMonitor.h"
#include "platform/linux/X11Workspace.h"

#include <QApplication>
#include <QPointer>
#include <QDeadlineTimer>
#include <QProcess>
#include <QScreen>
#include <QWidget>

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>

namespace panels_x11 {

// Replaces, in the installed services, what the panels meet on the desktop:
// the screens and pointer, the front application, the selection lookup and
// the mouse monitor. The rest stays as the test installed it.
inline void useDesktopServices(platform::Platform& services)
{
    auto workspace = std::make_shared<platform::linuxbackend::X11Workspace>();
    services.workspace = workspace;
    services.screens = std::make_shared<platform::linuxbackend::QtScreens>();
    services.globalMouse = std::make_shared<platform::linuxbackend::X11GlobalMouseMonitor>();
    services.selectionLocator = std::make_shared<platform::linuxbackend::AtSpiSelectionLocator>(workspace);
}

// The default deadline is sized for a loaded two-core machine running the
// sanitizers, where a window manager can take seconds to move the keyboard.
inline bool waitFor(const std::function<bool()>& done, int timeoutMs = 20000)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return true;
}

inline QString run(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(5000);
    return QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed();
}

// Real input through the X server (XTest), as a user makes it.
inline void xdotool(const QStringList& arguments)
{
    QProcess process;
    process.start(QStringLiteral("xdotool"), arguments);
    ASSERT_TRUE(process.waitForFinished(5000));
    ASSERT_EQ(process.exitCode(), 0) << arguments.join(' ').toStdString();
}

inline quint64 activeWindow()
{
    return run(QStringLiteral("xdotool"), {"getactivewindow"}).toULongLong();
}

inline void setLayout(const char* layout)
{
    run(QStringLiteral("setxkbmap"), {QString::fromLatin1(layout)});
}

// Waits until the window manager has given `window` the keyboard.
inline bool hasKeyboard(QWidget* panel)
{
    // A panel cancelled meanwhile is deleted under us, and will not get it.
    const QPointer<QWidget> window = panel;
    const auto has = [&] {
        return window && QApplication::activeWindow() == window && activeWindow() == quint64(window->winId());
    };
    bool ok = false;
    waitFor([&] { return (ok = has()) || !window; });
    if (!window)
        std::fprintf(stderr, "no keyboard: the panel closed before it had it\n");
    else if (!ok)
        std::fprintf(stderr, "no keyboard: active X window %llu, panel window %llu, Qt's active %p, panel %p, visible %d\n",
                     (unsigned long long)activeWindow(), (unsigned long long)window->winId(),
                     (void*)QApplication::activeWindow(), (void*)window.data(), int(window->isVisible()));
    return ok;
}

// Another application with a selected line of text, which has the keyboard
// when the test starts, as it would when the user presses the shortcut.
class TargetApplication {
public:
    TargetApplication()
    {
        process_.start(QStringLiteral(PANEL_X11_TARGET), {});
        if (!process_.waitForStarted(5000))
            return;
        waitFor(
            [&] {
                window_ = run(QStringLiteral("xdotool"), {"search", "--name", "Vellox panel test target"})
                              .toULongLong();
                return window_ != 0 && activeWindow() == window_;
            });
    }
    ~TargetApplication()
    {
        process_.terminate();
        process_.waitForFinished(3000);
        setLayout("us");
    }

    bool isReady() const { return window_ != 0 && activeWindow() == window_; }
    quint64 window() const { return window_; }
    bool hasKeyboardAgain() const
    {
        return waitFor([&] { return activeWindow() == window_; });
    }
    // What the application printed since the last call: a "key <text>" line
    // per key it received.
    QString output() { return QString::fromLocal8Bit(process_.readAllStandardOutput()); }

private:
    QProcess process_;
    quint64 window_ = 0;
};

// With VELLOX_X11_SCREENSHOTS set to a folder, saves what the screen shows,
// to look at the panels as the X server draws them.
inline void saveScreen(const QString& name)
{
    const QString folder = qEnvironmentVariable("VELLOX_X11_SCREENSHOTS");
    if (folder.isEmpty())
        return;
    waitFor([] { return false; }, 300);
    QGuiApplication::primaryScreen()->grabWindow(0).save(folder + QLatin1Char('/') + name + QStringLiteral(".png"));
}

} // namespace panels_x11
