#include "Vellox/panels/SystemPanelEnvironment.h"

#include "Vellox/rewrite/SelectionAnchorResolver.h"

#include "platform/Platform.h"
#include "platform/Screens.h"
#include "platform/Workspace.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QWidget>

SystemPanelEnvironment::SystemPanelEnvironment()
{
    // An X11 client hears of no other application's activation; it hears
    // that it lost the keyboard, which is what a switch away does to us. Our
    // own activation is never a reason to close, so it is not passed on.
    connect(qGuiApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
        if (state != Qt::ApplicationActive)
            emit resignedActive();
    });
}

QRectF SystemPanelEnvironment::anchoredFrame(QSizeF size, Placement placement)
{
    return SelectionAnchorResolver::resolve(size, placement == Placement::below
                                                      ? SelectionAnchorResolver::Placement::below
                                                      : SelectionAnchorResolver::Placement::beside)
        .rect;
}

std::optional<QRectF> SystemPanelEnvironment::mainScreenVisibleFrame() const
{
    const auto& screens = platform::Platform::current().screens;
    if (!screens)
        return std::nullopt;
    const QList<platform::Screens::Screen> list = screens->screens();
    if (list.isEmpty())
        return std::nullopt;
    const int main = screens->mainScreenIndex();
    return list[main >= 0 && main < list.size() ? main : 0].visibleFrame;
}

QPointF SystemPanelEnvironment::mouseLocation() const
{
    const auto& screens = platform::Platform::current().screens;
    return screens ? screens->mouseLocation() : QPointF();
}

std::optional<PanelEnvironment::Application> SystemPanelEnvironment::frontmostApplication() const
{
    const auto& workspace = platform::Platform::current().workspace;
    if (!workspace)
        return std::nullopt;
    const auto front = workspace->frontmostApplication();
    if (!front)
        return std::nullopt;
    return Application{front->window, front->pid, front->windowClass, front->instanceName};
}

bool SystemPanelEnvironment::isThisProcess(const Application& application) const
{
    return application.pid == QCoreApplication::applicationPid();
}

void SystemPanelEnvironment::activate(const Application& application)
{
    if (const auto& workspace = platform::Platform::current().workspace)
        workspace->activate({application.window, application.pid, application.windowClass, application.instanceName});
}

void SystemPanelEnvironment::activateThisApplication(QWidget* panel)
{
    if (QGuiApplication::platformName() != QLatin1String("offscreen"))
        panel->raise();
    panel->activateWindow();
    // Qt asks with the time of the last input it saw, and a window manager
    // that prevents focus stealing refuses a request older than the focused
    // window's last activation. The panel must take the keyboard whatever
    // happened since, so it is also activated as any other window would be.
    if (const auto& workspace = platform::Platform::current().workspace)
        workspace->activate({quint64(panel->winId()), QCoreApplication::applicationPid(), {}, {}});
}

void SystemPanelEnvironment::hideThisApplication()
{
}
