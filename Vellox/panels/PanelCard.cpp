#include "Vellox/panels/PanelCard.h"

#include "Vellox/app/VelloxTokens.h"

#include <QFontMetricsF>
#include <QHash>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <vector>

namespace PanelCard {

namespace {

constexpr double kHairline = 0.5;
constexpr double kKeyCapRadius = 4;
constexpr int kKeyCapPixelSize = 10;
// The fill lets a little of what is behind show through, like the system's
// own translucent panels.
constexpr double kMaterialOpacityLight = 0.94;
constexpr double kMaterialOpacityDark = 0.92;

QPainterPath shapePath(const QRectF& rect, const Style& style)
{
    QPainterPath path;
    if (style.shape == Style::Shape::circle)
        path.addEllipse(rect);
    else
        path.addRoundedRect(rect, style.radius, style.radius);
    return path;
}

// Three box blurs approximate a Gaussian; the alpha channel is all a shadow has.
void blurAlpha(QImage& image, int radius)
{
    if (radius < 1)
        return;
    const int w = image.width();
    const int h = image.height();
    std::vector<int> line(std::max(w, h));
    auto pass = [&](bool horizontal) {
        const int outer = horizontal ? h : w;
        const int inner = horizontal ? w : h;
        for (int o = 0; o < outer; ++o) {
            auto pixel = [&](int i) -> QRgb& {
                const int x = horizontal ? i : o;
                const int y = horizontal ? o : i;
                return reinterpret_cast<QRgb*>(image.scanLine(y))[x];
            };
            for (int i = 0; i < inner; ++i)
                line[i] = qAlpha(pixel(i));
            int sum = 0;
            for (int i = -radius; i <= radius; ++i)
                sum += line[std::clamp(i, 0, inner - 1)];
            for (int i = 0; i < inner; ++i) {
                const int a = sum / (2 * radius + 1);
                pixel(i) = qRgba(0, 0, 0, a);
                sum += line[std::min(i + radius + 1, inner - 1)] - line[std::max(i - radius, 0)];
            }
        }
    };
    for (int i = 0; i < 3; ++i) {
        pass(true);
        pass(false);
    }
}

QImage shadowImage(const QSizeF& cardSize, const Style& style, double devicePixelRatio)
{
    const QMargins margins = shadowMargins(style);
    const QSize logical(qCeil(cardSize.width()) + margins.left() + margins.right(),
                        qCeil(cardSize.height()) + margins.top() + margins.bottom());
    QImage image(logical * devicePixelRatio, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    {
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(devicePixelRatio, devicePixelRatio);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0, 0, 0, 255));
        p.drawPath(shapePath(QRectF(QPointF(margins.left(), margins.top()) + style.shadowOffset, cardSize), style));
    }
    // A blur of radius r spreads over about 2r; a third of that per box pass.
    blurAlpha(image, int(std::lround(style.shadowRadius * devicePixelRatio / 3.0)));
    QImage result = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    result.setDevicePixelRatio(devicePixelRatio);
    return result;
}

} // namespace

QMargins shadowMargins(const Style& style)
{
    const int spread = qCeil(style.shadowRadius);
    return QMargins(spread + qCeil(std::max(0.0, -style.shadowOffset.x())),
                    spread + qCeil(std::max(0.0, -style.shadowOffset.y())),
                    spread + qCeil(std::max(0.0, style.shadowOffset.x())),
                    spread + qCeil(std::max(0.0, style.shadowOffset.y())));
}

QColor materialColor(const QWidget* widget, bool translucent)
{
    const VelloxTokens::Appearance appearance = VelloxTokens::appearanceOf(widget);
    QColor color = VelloxTokens::Colors::surface.resolved(appearance);
    if (!translucent)
        return color;
    color.setAlphaF(appearance == VelloxTokens::Appearance::dark ? kMaterialOpacityDark : kMaterialOpacityLight);
    return color;
}

void paint(QPainter& painter, const QRectF& card, const Style& style, const QWidget* widget)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    if (style.shadowOpacity > 0) {
        const double dpr = painter.device()->devicePixelRatioF();
        // The blur is the costly part and the same for every frame of a card.
        static QHash<QString, QImage> cache;
        const QString key = QStringLiteral("%1x%2/%3/%4/%5/%6/%7")
                                .arg(card.width())
                                .arg(card.height())
                                .arg(int(style.shape))
                                .arg(style.radius)
                                .arg(style.shadowRadius)
                                .arg(style.shadowOffset.y())
                                .arg(dpr);
        auto it = cache.find(key);
        if (it == cache.end()) {
            if (cache.size() > 32)
                cache.clear();
            it = cache.insert(key, shadowImage(card.size(), style, dpr));
        }
        const QMargins margins = shadowMargins(style);
        painter.setOpacity(style.shadowOpacity);
        painter.drawImage(card.topLeft() - QPointF(margins.left(), margins.top()), *it);
        painter.setOpacity(1);
    }
    const QPainterPath path = shapePath(card, style);
    painter.fillPath(path, materialColor(widget));
    QPen border(VelloxTokens::Colors::divider.resolved(widget), kHairline);
    painter.setPen(border);
    painter.setBrush(Qt::NoBrush);
    const double inset = kHairline / 2;
    Style inner = style;
    inner.radius = std::max(0.0, style.radius - inset);
    painter.drawPath(shapePath(card.adjusted(inset, inset, -inset, -inset), inner));
    painter.restore();
}

QFont keyCapFont()
{
    QFont font = VelloxTokens::Typography::body.font(QFont::Medium);
    font.setPixelSize(kKeyCapPixelSize);
    return font;
}

QRectF keyCapRect(const QString& text, QPointF topLeft, double horizontalPadding, double verticalPadding)
{
    const QFontMetricsF metrics(keyCapFont());
    return QRectF(topLeft, QSizeF(metrics.horizontalAdvance(text) + 2 * horizontalPadding,
                                  metrics.height() + 2 * verticalPadding));
}

void paintKeyCap(QPainter& painter, const QRectF& rect, const QString& text, const QWidget* widget)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(VelloxTokens::Colors::divider.resolved(widget), kHairline));
    painter.setBrush(Qt::NoBrush);
    const double inset = kHairline / 2;
    painter.drawRoundedRect(rect.adjusted(inset, inset, -inset, -inset), kKeyCapRadius - inset,
                            kKeyCapRadius - inset);
    painter.setFont(keyCapFont());
    painter.setPen(VelloxTokens::Colors::textTertiary.resolved(widget));
    painter.drawText(rect, Qt::AlignCenter, text);
    painter.restore();
}

} // namespace PanelCard
