#include "Vellox/panels/SystemPanelEnvironment.h"

#include <QCoreApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <algorithm>

namespace {

constexpr double kMouseOffset = 10;
constexpr double kScreenInset = 4;

} // namespace

SystemPanelEnvironment::SystemPanelEnvironment()
{
    connect(qGuiApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
        if (state == Qt::ApplicationActive)
            emit applicationActivated();
        else
            emit resignedActive();
    });
}

QRectF SystemPanelEnvironment::anchoredFrame(QSizeF size, Placement)
{
    const QPointF mouse = mouseLocation();
    QRectF frame(QPointF(mouse.x() + kMouseOffset, mouse.y() - size.height() / 2), size);
    QScreen* screen = QGuiApplication::screenAt(mouse.toPoint());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return frame;
    const QRectF visible = screen->availableGeometry();
    frame.moveLeft(std::min(std::max(frame.x(), visible.left() + kScreenInset),
                            visible.left() + visible.width() - size.width() - kScreenInset));
    frame.moveTop(std::min(std::max(frame.y(), visible.top() + kScreenInset),
                           visible.top() + visible.height() - size.height() - kScreenInset));
    return frame;
}

std::optional<QRectF> SystemPanelEnvironment::mainScreenVisibleFrame() const
{
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return std::nullopt;
    return QRectF(screen->availableGeometry());
}

QPointF SystemPanelEnvironment::mouseLocation() const
{
    return QCursor::pos();
}

std::optional<PanelEnvironment::Application> SystemPanelEnvironment::frontmostApplication() const
{
    return std::nullopt;
}

bool SystemPanelEnvironment::isThisProcess(const Application& application) const
{
    return application.pid == QCoreApplication::applicationPid();
}

void SystemPanelEnvironment::activate(const Application&)
{
}

void SystemPanelEnvironment::activateThisApplication(QWidget* panel)
{
    panel->raise();
    panel->activateWindow();
}

void SystemPanelEnvironment::hideThisApplication()
{
}
