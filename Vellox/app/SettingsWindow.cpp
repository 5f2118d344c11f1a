#include "Vellox/app/SettingsWindow.h"

#include "Vellox/app/SettingsRootView.h"
#include "Vellox/app/ShellAccessibility.h"
#include "Vellox/panels/UIWindowCoordinator.h"

#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QScrollArea>
#include <QVBoxLayout>

namespace {
// Distance of the window from the top of the screen's free area.
constexpr int kTopMargin = 64;
} // namespace

SettingsWindow::SettingsWindow(QWidget* parent)
    : QWidget(parent, Qt::Window)
    , root_(new SettingsRootView)
{
    ShellAccessibility::install();
    setObjectName(QStringLiteral("SettingsWindow"));
    setWindowTitle(QStringLiteral("Vellox Settings"));
    setAttribute(Qt::WA_DeleteOnClose);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* scroll = new QScrollArea;
    scroll->setFrameShape(QFrame::NoFrame);
    // The scroll area itself is no stop on the way through the form.
    scroll->setFocusPolicy(Qt::NoFocus);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setWidget(root_);
    layout->addWidget(scroll);
    setMinimumWidth(root_->minimumWidth());
    UIWindowCoordinator::setWindowIdentifier(this, UIWindowCoordinator::settingsWindowIdentifier);
    UIWindowCoordinator::shared().registerWindow(this);
}

void SettingsWindow::present()
{
    if (!placed_) {
        placed_ = true;
        int height = qMax(root_->sizeHint().height(), root_->minimumHeight());
        if (QScreen* screen = QGuiApplication::primaryScreen()) {
            const QRect area = screen->availableGeometry();
            height = qMin(qMax(height, kIdealHeight), area.height() - 2 * kTopMargin);
            resize(kIdealWidth, height);
            move(area.center().x() - kIdealWidth / 2, area.top() + kTopMargin);
        } else {
            resize(kIdealWidth, height);
        }
    }
    show();
    raise();
    activateWindow();
}

void SettingsWindow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // Once more after the window manager mapped the window: an activation
    // asked for before the map is often ignored.
    QPointer<SettingsWindow> self(this);
    QMetaObject::invokeMethod(
        this, [self] {
            if (self) {
                self->raise();
                self->activateWindow();
            }
        },
        Qt::QueuedConnection);
}
