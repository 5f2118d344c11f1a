#include "Vellox/panels/RewriteBusySpinner.h"

#include "Vellox/app/VelloxTokens.h"
#include "Vellox/panels/FloatingPanel.h"
#include "Vellox/panels/PanelEnvironment.h"
#include "Vellox/panels/UIWindowCoordinator.h"

#include <QPainter>
#include <QPointer>
#include <QTimerEvent>

namespace {

const PanelCard::Style kChipStyle{PanelCard::Style::Shape::circle, 13, 0.14, 4, {0, 1}};
// The small control size of a circular indicator, and its pace.
constexpr double kRingDiameter = 14;
constexpr double kRingWidth = 2;
constexpr int kFrameMs = 16;
constexpr double kDegreesPerSecond = 360;
constexpr int kArcSpan = 270;

QPointer<FloatingPanel>& chipPanel()
{
    static QPointer<FloatingPanel> panel;
    return panel;
}

} // namespace

void RewriteBusySpinner::show()
{
    if (chipPanel())
        return;
    UIWindowCoordinator& coordinator = UIWindowCoordinator::shared();
    coordinator.closeSettingsWindowIfOpen();
    coordinator.closeMenuPopoverIfOpen();
    coordinator.markSurfaceVisible(UIWindowCoordinator::Surface::spinner);
    const QRectF frame =
        PanelEnvironment::current().anchoredFrame(QSizeF(chip, chip), PanelEnvironment::Placement::beside);
    auto* panel = new FloatingPanel(FloatingPanel::Kind::clickThrough, kChipStyle, new RewriteBusySpinnerView);
    panel->setCardFrame(QRectF(frame.topLeft(), QSizeF(chip, chip)));
    panel->orderFront(1);
    chipPanel() = panel;
}

void RewriteBusySpinner::hide()
{
    FloatingPanel* panel = std::exchange(chipPanel(), nullptr);
    if (!panel)
        return;
    panel->orderOut();
    panel->deleteLater();
    UIWindowCoordinator::shared().markSurfaceHidden(UIWindowCoordinator::Surface::spinner);
}

FloatingPanel* RewriteBusySpinner::panel()
{
    return chipPanel();
}

RewriteBusySpinnerView::RewriteBusySpinnerView(QWidget* parent)
    : QWidget(parent)
{
    resize(RewriteBusySpinner::chip, RewriteBusySpinner::chip);
}

void RewriteBusySpinnerView::setFrozenAngle(double degrees)
{
    frozen_ = true;
    angle_ = degrees;
    update();
}

void RewriteBusySpinnerView::showEvent(QShowEvent*)
{
    if (!timerId_ && !frozen_)
        timerId_ = startTimer(kFrameMs, Qt::PreciseTimer);
}

void RewriteBusySpinnerView::hideEvent(QHideEvent*)
{
    if (timerId_)
        killTimer(timerId_);
    timerId_ = 0;
}

void RewriteBusySpinnerView::timerEvent(QTimerEvent*)
{
    if (frozen_)
        return;
    angle_ = std::fmod(angle_ + kDegreesPerSecond * kFrameMs / 1000.0, 360.0);
    update();
}

void RewriteBusySpinnerView::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QPointF centre = QRectF(rect()).center();
    const QRectF ring(centre.x() - kRingDiameter / 2, centre.y() - kRingDiameter / 2, kRingDiameter, kRingDiameter);
    const QRectF inset = ring.adjusted(kRingWidth / 2, kRingWidth / 2, -kRingWidth / 2, -kRingWidth / 2);
    QColor track = VelloxTokens::Colors::accent.resolved(this);
    track.setAlphaF(0.18);
    p.setPen(QPen(track, kRingWidth));
    p.drawEllipse(inset);
    QPen arc(VelloxTokens::Colors::accent.resolved(this), kRingWidth, Qt::SolidLine, Qt::RoundCap);
    p.setPen(arc);
    // Qt counts angles anticlockwise in sixteenths of a degree.
    p.drawArc(inset, int(-angle_ * 16), kArcSpan * 16 / 3);
}
