#pragma once

#include <QColor>
#include <QMargins>
#include <QPointF>
#include <QRectF>
#include <QString>

class QFont;
class QPainter;
class QWidget;

// How the floating panels draw their card: a translucent rounded shape with a
// hairline border and a soft shadow of its own, since the panel windows draw
// no window-manager shadow.
namespace PanelCard {

struct Style {
    enum class Shape { roundedRect, circle };
    Shape shape = Shape::roundedRect;
    double radius = 10;
    double shadowOpacity = 0.22;
    double shadowRadius = 18;
    QPointF shadowOffset{0, 6};
};

// Room around the card that its shadow needs inside the panel window.
QMargins shadowMargins(const Style& style);

// The panels' fill for the appearance `widget` is drawn in: translucent, or
// opaque where the desktop cannot blend windows.
QColor materialColor(const QWidget* widget, bool translucent = true);

// Shadow, fill and a 0.5-pixel inside border in the divider colour.
void paint(QPainter& painter, const QRectF& card, const Style& style, const QWidget* widget);

// A key cap: `text` in the small rounded font inside a hairline rounded
// rectangle of radius 4, padded horizontally and vertically.
QFont keyCapFont();
QRectF keyCapRect(const QString& text, QPointF topLeft, double horizontalPadding, double verticalPadding);
void paintKeyCap(QPainter& painter, const QRectF& rect, const QString& text, const QWidget* widget);

} // namespace PanelCard
