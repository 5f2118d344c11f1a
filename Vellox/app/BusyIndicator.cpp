#include "Vellox/app/BusyIndicator.h"

#include "Vellox/app/VelloxTokens.h"

#include <QPainter>
#include <QVariantAnimation>

namespace {
constexpr int kTurnMs = 900;
} // namespace

BusyIndicator::BusyIndicator(int diameter, QWidget* parent)
    : QWidget(parent)
    , diameter_(diameter)
    , turn_(new QVariantAnimation(this))
{
    turn_->setStartValue(0.0);
    turn_->setEndValue(360.0);
    turn_->setDuration(kTurnMs);
    turn_->setLoopCount(-1);
    connect(turn_, &QVariantAnimation::valueChanged, this, qOverload<>(&QWidget::update));
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

bool BusyIndicator::isSpinning() const
{
    return turn_->state() == QAbstractAnimation::Running;
}

void BusyIndicator::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    turn_->start();
}

void BusyIndicator::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    turn_->stop();
}

void BusyIndicator::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, true);
    const qreal pen = qMax(1.5, diameter_ / 8.0);
    const QRectF ring = QRectF((width() - diameter_) / 2.0, (height() - diameter_) / 2.0, diameter_, diameter_)
                            .adjusted(pen / 2, pen / 2, -pen / 2, -pen / 2);
    painter.setPen(QPen(VelloxTokens::Colors::divider.resolved(this), pen));
    painter.drawEllipse(ring);
    painter.setPen(QPen(VelloxTokens::Colors::textSecondary.resolved(this), pen, Qt::SolidLine, Qt::RoundCap));
    const int start = int(-turn_->currentValue().toReal() * 16);
    painter.drawArc(ring, start, 100 * 16);
}
