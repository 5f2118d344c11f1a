#pragma once

#include <QColor>
#include <QRectF>

class QPainter;
class QVariantAnimation;
class QWidget;

// Small helpers the kit's controls share.
namespace KitPainting {

// A rounded rectangle filled with antialiasing.
void fillRoundedRect(QPainter& painter, const QRectF& rect, qreal radius, const QColor& color);
// The keyboard-focus ring drawn around a control with that corner radius.
void paintFocusRing(QPainter& painter, const QRectF& rect, qreal radius, const QColor& accent);
// `color` with its alpha multiplied by `factor`.
QColor withOpacity(QColor color, qreal factor);

// An ease-out fade between 0 and 1 over `durationMs`, starting from where it
// is; `onValue` repaints the owner.
QVariantAnimation* makeFade(QWidget* owner, int durationMs);
void fadeTo(QVariantAnimation* fade, qreal target);

} // namespace KitPainting
