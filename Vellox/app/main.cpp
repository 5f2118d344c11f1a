#include "Vellox/app/AppDelegate.h"
#include "Vellox/app/MenuBarWindow.h"
#include "Vellox/app/SingleInstance.h"
#include "Vellox/app/VelloxApp.h"
#include "Vellox/panels/PanelSurfaces.h"
#include "Vellox/rewrite/RewriteSurfaces.h"
#include "Vellox/settings/VelloxLogStore.h"
#include "platform/Platform.h"
#include "platform/linux/LinuxPlatform.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QGuiApplication>

#include <cstdio>

int main(int argc, char** argv)
{
    // The program drives other X11 applications with synthesised keys; under
    // a Wayland session it runs through XWayland.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && !qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "xcb");
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariable("QT_QPA_PLATFORM") != QLatin1String("offscreen")) {
        std::fprintf(stderr, "Vellox needs an X11 display (DISPLAY is not set). On a Wayland session, enable "
                             "XWayland; without a graphical session Vellox cannot run.\n");
        return 2;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vellox"));
    QApplication::setOrganizationDomain(QStringLiteral("vellox.app"));
    QApplication::setDesktopFileName(QStringLiteral("app.vellox.desktop"));
    QApplication::setQuitOnLastWindowClosed(false);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Rewrites the text selected in any application."));
    parser.addHelpOption();
    const QCommandLineOption noTray(QStringLiteral("no-tray"), QStringLiteral("Run without the tray icon."));
    parser.addOption(noTray);
    parser.process(app);

    // Calls reach the object only once the event loop runs, by which time
    // everything it serves is set up.
    SingleInstance instance;
    instance.exportOnSessionBus();
    if (SingleInstance::claimOrForward() == SingleInstance::Claim::forwarded)
        return 0;

    platform::Platform::install(platform::linuxbackend::makeLinuxPlatform());
    PanelSurfaces surfaces;
    RewriteSurfaces::install(&surfaces);

    AppDelegate delegate;
    VelloxApp scenes(&delegate, VelloxApp::Options{!parser.isSet(noTray)});
    instance.setShowPopover([&scenes] {
        if (!scenes.popover()->isVisible())
            scenes.togglePopover();
    });
    delegate.applicationDidFinishLaunching();

    const int status = app.exec();
    delegate.applicationWillTerminate();
    RewriteSurfaces::install(nullptr);
    // The last outcomes may still be on their way to the log file.
    VelloxLogStore::waitForPendingWrites();
    return status;
}
