#include "Vellox/app/KitPainting.h"

#include <QPainter>
#include <QPainterPath>
#include <QVariantAnimation>
#include <QWidget>

namespace KitPainting {

void fillRoundedRect(QPainter& painter, const QRectF& rect, qreal radius, const QColor& color)
{
    if (color.alpha() == 0)
        return;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    QPainterPath path;
    path.addRoundedRect(rect, radius, radius);
    painter.fillPath(path, color);
    painter.restore();
}

void paintFocusRing(QPainter& painter, const QRectF& rect, qreal radius, const QColor& accent)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(QPen(withOpacity(accent, 0.6), 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(rect.adjusted(1, 1, -1, -1), radius, radius);
    painter.restore();
}

QColor withOpacity(QColor color, qreal factor)
{
    color.setAlphaF(color.alphaF() * factor);
    return color;
}

QVariantAnimation* makeFade(QWidget* owner, int durationMs)
{
    auto* fade = new QVariantAnimation(owner);
    fade->setDuration(durationMs);
    fade->setEasingCurve(QEasingCurve::OutCubic);
    fade->setStartValue(0.0);
    fade->setEndValue(0.0);
    fade->setCurrentTime(durationMs);
    QObject::connect(fade, &QVariantAnimation::valueChanged, owner, [owner] { owner->update(); });
    return fade;
}

void fadeTo(QVariantAnimation* fade, qreal target)
{
    const qreal from = fade->currentValue().isValid() ? fade->currentValue().toReal() : 0.0;
    fade->stop();
    if (qFuzzyCompare(from + 1, target + 1)) {
        fade->setStartValue(target);
        fade->setEndValue(target);
        fade->setCurrentTime(fade->duration());
        return;
    }
    fade->setStartValue(from);
    fade->setEndValue(target);
    fade->start();
}

} // namespace KitPainting
