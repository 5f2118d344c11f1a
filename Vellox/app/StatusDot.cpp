#include "Vellox/app/StatusDot.h"

#include "Vellox/app/SymbolImage.h"
#include "Vellox/app/VelloxTokens.h"

#include <QPainter>

namespace StatusDot {

namespace {
// Sizes in points of a 22-point menu-bar icon; scaled to the tray's size.
constexpr qreal kReferenceSide = 22;
constexpr qreal kSmallDot = 6;
constexpr qreal kErrorDot = 8;
constexpr qreal kWorkingOpacity = 0.9;
// The dot sits 3 points right of and above the symbol's top right corner.
constexpr qreal kDotOffset = 3;
// The drawn symbol: light, ringed in dark, so it reads on any panel.
const QColor kSymbolFill(0xf4, 0xf4, 0xf4);
const QColor kSymbolOutline(0x1c, 0x1c, 0x1c);
constexpr qreal kOutlineWidth = 1.2;

void paintOutlinedSymbol(QPainter& painter, const QRectF& box, qreal glyphSize, qreal scale)
{
    const QString name = QStringLiteral("long.text.page.and.pencil");
    const qreal ring = kOutlineWidth * scale;
    for (int dx = -1; dx <= 1; ++dx)
        for (int dy = -1; dy <= 1; ++dy)
            if (dx != 0 || dy != 0)
                SymbolImage::paint(painter, box.translated(dx * ring, dy * ring), name, kSymbolOutline, glyphSize,
                                   QFont::Bold);
    SymbolImage::paint(painter, box, name, kSymbolFill, glyphSize, QFont::Bold);
}
} // namespace

QIcon themeSymbol()
{
    const QString name = QString::fromLatin1(kThemeSymbolName);
    return QIcon::hasThemeIcon(name) ? QIcon::fromTheme(name) : QIcon();
}

StatusDotState stateFor(AccessibilityPermissionStatus permission, RewriteChromeState::Phase phase, bool hasLastError)
{
    if (permission == AccessibilityPermissionStatus::denied)
        return StatusDotState::permission;
    if (phase == RewriteChromeState::Phase::working)
        return StatusDotState::working;
    if (hasLastError)
        return StatusDotState::error;
    return StatusDotState::none;
}

QImage render(StatusDotState state, int side, qreal devicePixelRatio, const QIcon& themeSymbol)
{
    QImage image(QSize(side, side) * devicePixelRatio, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(devicePixelRatio);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing, true);
    const qreal scale = side / kReferenceSide;
    // The symbol keeps the top right corner free for the dot.
    const qreal symbolSide = 16 * scale;
    const QRectF symbolBox(2 * scale, (side - symbolSide) / 2 + 1 * scale, symbolSide, symbolSide);
    if (!themeSymbol.isNull())
        themeSymbol.paint(&painter, symbolBox.toAlignedRect());
    else
        paintOutlinedSymbol(painter, symbolBox, symbolSide * 0.9, scale);

    qreal diameter = 0;
    QColor color;
    const auto appearance = VelloxTokens::Appearance::light;
    switch (state) {
    case StatusDotState::none:
        return image;
    case StatusDotState::permission:
        diameter = kSmallDot;
        color = VelloxTokens::Colors::warning.resolved(appearance);
        break;
    case StatusDotState::working:
        diameter = kSmallDot;
        color = VelloxTokens::Colors::success.resolved(appearance);
        color.setAlphaF(kWorkingOpacity);
        break;
    case StatusDotState::error:
        diameter = kErrorDot;
        color = VelloxTokens::Colors::danger.resolved(appearance);
        break;
    }
    // Centred on the symbol's top right corner, moved out by the offset, and
    // kept inside the image so a large dot is never cut.
    const qreal d = diameter * scale;
    QRectF dot(symbolBox.right() + kDotOffset * scale - d / 2, symbolBox.top() - kDotOffset * scale - d / 2 + 4 * scale,
               d, d);
    dot.moveRight(qMin(dot.right(), qreal(side)));
    dot.moveTop(qMax(dot.top(), 0.0));
    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    painter.drawEllipse(dot);
    return image;
}

QIcon icon(StatusDotState state, const QIcon& themeSymbol)
{
    QIcon result;
    for (int side : {16, 22, 24, 32, 48})
        result.addPixmap(QPixmap::fromImage(render(state, side, 1.0, themeSymbol)));
    return result;
}

} // namespace StatusDot
