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
} // namespace

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

QImage render(StatusDotState state, int side, qreal devicePixelRatio, const QColor& symbolColor)
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
    SymbolImage::paint(painter, symbolBox, QStringLiteral("long.text.page.and.pencil"), symbolColor, symbolSide * 0.9);

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
    const qreal d = diameter * scale;
    const QPointF centre(symbolBox.right() + (kDotOffset - 1) * scale, symbolBox.top() + (1 - kDotOffset + 3) * scale);
    const QRectF dot(centre.x() - d / 2, centre.y() - d / 2, d, d);
    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    painter.drawEllipse(dot.intersected(QRectF(0, 0, side, side)).isEmpty() ? dot : dot.translated(
                            qMin(0.0, side - dot.right()), qMax(0.0, -dot.top())));
    return image;
}

QIcon icon(StatusDotState state, const QColor& symbolColor)
{
    QIcon result;
    for (int side : {16, 22, 24, 32, 48})
        result.addPixmap(QPixmap::fromImage(render(state, side, 1.0, symbolColor)));
    return result;
}

} // namespace StatusDot
