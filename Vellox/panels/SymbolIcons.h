#pragma once

#include <QColor>
#include <QRectF>
#include <QString>

class QPainter;

// The panels name their icons by the symbol names the tone presets carry
// ("briefcase.fill"). Each maps to an icon of the desktop's freedesktop theme,
// drawn in one colour like the symbolic icons of GNOME and KDE; where the
// theme has none, one of our own SVG icons stands in.
namespace SymbolIcons {

struct Mapping {
    // Freedesktop icon names to try, in order.
    QStringList themeNames;
    // Our own icon, a resource under ":/vellox/panels/icons/".
    QString fallback;
};

// The mapping of a symbol name; unknown names get a neutral pencil.
Mapping mappingFor(const QString& symbol);

// Whether the desktop's theme is consulted at all (on by default). The
// screenshots turn it off so they look the same on every machine.
void setUseThemeIcons(bool use);

// Draws the symbol tinted with `color`, centred in `rect` at `pixelSize`.
void paint(QPainter& painter, const QRectF& rect, const QString& symbol, double pixelSize, const QColor& color);

} // namespace SymbolIcons
