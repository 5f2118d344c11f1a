#include "Vellox/app/MenuRowBody.h"

#include "Vellox/app/KitPainting.h"
#include "Vellox/app/SymbolImage.h"
#include "Vellox/app/VelloxTokens.h"

#include <QFontMetrics>
#include <QPainter>
#include <QVariantAnimation>

namespace {
constexpr int kSymbolSlot = 18;
constexpr qreal kSymbolSize = 13;
constexpr qreal kCheckSize = 11;
constexpr int kVerticalPadding = 6;
const int kHorizontalPadding = int(VelloxTokens::Spacing::s);
const int kGap = int(VelloxTokens::Spacing::m);
} // namespace

MenuRowBody::MenuRowBody(Content content, QWidget* parent)
    : QWidget(parent)
    , content_(std::move(content))
    , fade_(KitPainting::makeFade(this, VelloxTokens::Motion::hoverFadeMs))
{
    setFont(VelloxTokens::Typography::body.font());
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void MenuRowBody::setContent(const Content& content)
{
    content_ = content;
    updateGeometry();
    update();
}

void MenuRowBody::setHovered(bool hovered)
{
    if (hovered_ == hovered)
        return;
    hovered_ = hovered;
    KitPainting::fadeTo(fade_, hovered ? 1.0 : 0.0);
}

qreal MenuRowBody::hoverOpacity() const
{
    return fade_->currentValue().toReal();
}

MenuRowBody::Trailing MenuRowBody::trailingFor(const Content& content)
{
    if (content.isSelected)
        return Trailing::checkmark;
    return content.trailingText ? Trailing::text : Trailing::nothing;
}

int MenuRowBody::titleOffset(const Content& content)
{
    return kHorizontalPadding + (content.systemImage ? kSymbolSlot + kGap : 0);
}

int MenuRowBody::rowHeight(const QFont& font)
{
    return qMax(QFontMetrics(font).height(), kSymbolSlot - 2) + 2 * kVerticalPadding;
}

void MenuRowBody::paintRow(QPainter& painter, const QWidget* widget, const QRect& rect, const Content& content,
                           qreal hoverOpacity, int trailingReserve, bool symbolAlwaysSecondary)
{
    using namespace VelloxTokens;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    if (hoverOpacity > 0)
        KitPainting::fillRoundedRect(painter, QRectF(rect),
                                     Radius::control,
                                     KitPainting::withOpacity(Colors::accentSoft.resolved(widget), hoverOpacity));

    const QRect inner = rect.adjusted(kHorizontalPadding, kVerticalPadding, -kHorizontalPadding, -kVerticalPadding);
    int x = inner.left();
    if (content.systemImage) {
        const QColor symbolColor = content.isSelected && !symbolAlwaysSecondary ? Colors::accent.resolved(widget)
                                                                                 : Colors::textSecondary.resolved(widget);
        SymbolImage::paint(painter, QRectF(x, inner.top(), kSymbolSlot, inner.height()), *content.systemImage,
                           symbolColor, kSymbolSize);
        x += kSymbolSlot + kGap;
    }

    // The trailing part keeps its full width; the title gives way first.
    int trailingWidth = trailingReserve;
    const QFont trailingFont = Typography::secondary.font();
    switch (trailingFor(content)) {
    case Trailing::checkmark:
        trailingWidth = int(kCheckSize) + 2;
        SymbolImage::paint(painter, QRectF(inner.right() - trailingWidth + 1, inner.top(), trailingWidth, inner.height()),
                           QStringLiteral("checkmark"), Colors::accent.resolved(widget), kCheckSize, QFont::DemiBold);
        break;
    case Trailing::text: {
        if (trailingReserve)
            break;
        const QFontMetrics metrics(trailingFont);
        trailingWidth = metrics.horizontalAdvance(*content.trailingText) + 1;
        painter.setFont(trailingFont);
        painter.setPen(Colors::textTertiary.resolved(widget));
        painter.drawText(QRect(inner.right() - trailingWidth + 1, inner.top(), trailingWidth, inner.height()),
                         Qt::AlignRight | Qt::AlignVCenter, *content.trailingText);
        break;
    }
    case Trailing::nothing:
        break;
    }

    const QFont titleFont = Typography::body.font();
    painter.setFont(titleFont);
    painter.setPen(Colors::textPrimary.resolved(widget));
    const int titleRight = inner.right() + 1 - trailingWidth - int(Spacing::s);
    const QFontMetrics metrics(titleFont);
    painter.drawText(QRect(x, inner.top(), qMax(0, titleRight - x), inner.height()), Qt::AlignLeft | Qt::AlignVCenter,
                     metrics.elidedText(content.title, Qt::ElideRight, qMax(0, titleRight - x)));
    painter.restore();
}

QSize MenuRowBody::sizeHint() const
{
    const QFontMetrics metrics(font());
    int width = titleOffset(content_) + metrics.horizontalAdvance(content_.title) + int(VelloxTokens::Spacing::s)
        + kHorizontalPadding;
    if (content_.trailingText)
        width += QFontMetrics(VelloxTokens::Typography::secondary.font()).horizontalAdvance(*content_.trailingText);
    return {width, rowHeight(font())};
}

void MenuRowBody::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    paintRow(painter, this, rect(), content_, hoverOpacity());
}
