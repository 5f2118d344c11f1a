#pragma once

#include <QColor>
#include <QFont>
#include <QRectF>
#include <QString>

class QPainter;

// Draws the named symbols the windows use as vector strokes, so they stay
// sharp at every scale and take any token colour. The names are the symbol
// names the settings and presets carry ("checkmark", "lock.shield", ...);
// tone symbols without a drawing here are drawn as the floating panels draw
// them.
namespace SymbolImage {

// Paints `name` centred in `box` at a glyph size of `pixelSize`.
void paint(QPainter& painter, const QRectF& box, const QString& name, const QColor& color, qreal pixelSize,
           QFont::Weight weight = QFont::Normal);

} // namespace SymbolImage
