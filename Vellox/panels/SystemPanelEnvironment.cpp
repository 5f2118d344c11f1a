#include "Vellox/panels/SystemPanelEnvironment.h"

#include "Vellox/rewrite/SelectionAnchorResolver.h"

#include "platform/PanelWindowHints.h"
#include "platform/Platform.h"
#include "platform/Screens.h"
#include "platform/Workspace.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QTimer>
#include <QWidget>

namespace {

constexpr int kActivationAttempts = 10;
constexpr int kActivationRetryMs = 50;

} // namespace

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
    // Handing the keyboard back is the user's wish too, and asked the same
    // way as for the panels, so the window manager never sees the two
    // requests out of order or with different standing.
    if (platform::activateForUser(application.window))
        return;
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
    // window's last activation; a request for a window the manager has not
    // taken on yet is dropped. The panel opened on the user's shortcut and
    // must take the keyboard, so it asks as a user's tool does, and asks
    // again for a short while until it has the keyboard.
    const auto activate = [panel] { platform::activateForUser(quint64(panel->winId())); };
    activate();
    auto* retry = new QTimer(panel);
    retry->setInterval(kActivationRetryMs);
    QObject::connect(retry, &QTimer::timeout, panel, [panel, retry, activate, left = kActivationAttempts]() mutable {
        if (!panel->isVisible() || panel->isActiveWindow() || --left <= 0) {
            retry->stop();
            retry->deleteLater();
            return;
        }
        activate();
    });
    retry->start();
}

void SystemPanelEnvironment::hideThisApplication()
{
}
