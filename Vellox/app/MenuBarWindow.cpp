#include "Vellox/app/MenuBarWindow.h"

#include "Vellox/app/MenuBarContentView.h"
#include "Vellox/app/VelloxTokens.h"
#include "Vellox/panels/UIWindowCoordinator.h"
#include "Vellox/rewrite/RewriteUsageStore.h"

#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QShortcut>
#include <QVBoxLayout>

namespace {
// The gap between the tray icon and the popover.
constexpr int kGap = 4;
} // namespace

MenuBarWindow::MenuBarWindow(std::function<void()> openSettings, std::function<void()> terminate, QWidget* parent)
    : QWidget(parent, Qt::Popup | Qt::FramelessWindowHint)
{
    setObjectName(QStringLiteral("MenuBarWindow"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(1, 1, 1, 1);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    content_ = new MenuBarContentView({std::move(openSettings), std::move(terminate)});
    layout->addWidget(content_);
    connect(content_, &MenuBarContentView::contentRebuilt, this, [this] {
        adjustSize();
        updateTitle();
    });
    updateTitle();
    UIWindowCoordinator::setWindowIdentifier(this, UIWindowCoordinator::menuPopoverWindowIdentifier);
    UIWindowCoordinator::shared().registerWindow(this);

    // The keys the Settings and Quit rows name.
    connect(new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma), this), &QShortcut::activated, content_,
            &MenuBarContentView::openSettingsClosingMenuSnapshot);
    connect(new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q), this), &QShortcut::activated, this, [this] {
        if (QWidget* quit = content_->findChild<QWidget*>(QStringLiteral("quitRow")))
            QMetaObject::invokeMethod(quit, "click");
    });
}

QPoint MenuBarWindow::placement(const QRect& anchor, const QSize& size, const QRect& available)
{
    QPoint origin(anchor.center().x() - size.width() / 2, anchor.bottom() + 1 + kGap);
    // A panel at the bottom of the screen opens the popover upwards.
    if (anchor.center().y() > available.center().y())
        origin.setY(anchor.top() - kGap - size.height());
    origin.setX(qBound(available.left(), origin.x(), qMax(available.left(), available.right() + 1 - size.width())));
    origin.setY(qBound(available.top(), origin.y(), qMax(available.top(), available.bottom() + 1 - size.height())));
    return origin;
}

void MenuBarWindow::popUp(const QRect& anchor)
{
    content_->rebuildNow();
    adjustSize();
    QScreen* screen = QGuiApplication::screenAt(anchor.center());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    const QRect available = screen ? screen->availableGeometry() : QRect(QPoint(0, 0), size());
    move(placement(anchor, size(), available));
    show();
    raise();
    activateWindow();
}

void MenuBarWindow::updateTitle()
{
    // Window lists and screen readers name the popover with its summary.
    const bool counted = RewriteUsageStore::shared().todayCount() >= 1;
    setWindowTitle(counted ? QStringLiteral("Vellox – ") + content_->usageFootnoteText() : QStringLiteral("Vellox"));
}

void MenuBarWindow::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), VelloxTokens::Colors::surface.resolved(this));
    painter.setPen(VelloxTokens::Colors::surfaceBorder.resolved(this));
    painter.drawRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));
}
