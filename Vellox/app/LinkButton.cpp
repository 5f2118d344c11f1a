#include "Vellox/app/LinkButton.h"

#include "Vellox/app/KitPainting.h"
#include "Vellox/app/SymbolImage.h"
#include "Vellox/app/VelloxTokens.h"

#include <QFontMetrics>
#include <QPainter>

namespace {
constexpr qreal kSymbolSize = 10;
constexpr int kVerticalInset = 2;
} // namespace

LinkButton::LinkButton(QString title, std::optional<QString> systemImage, std::function<void()> action,
                       QWidget* parent)
    : QAbstractButton(parent)
    , systemImage_(std::move(systemImage))
    , action_(std::move(action))
{
    setText(title);
    setFont(VelloxTokens::Typography::body.font());
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setFocusPolicy(Qt::TabFocus);
    setCursor(Qt::PointingHandCursor);
    connect(this, &QAbstractButton::clicked, this, [this] {
        if (action_)
            action_();
    });
}

void LinkButton::setTitle(const QString& title)
{
    setText(title);
    updateGeometry();
    update();
}

void LinkButton::setColor(VelloxTokens::ColorToken color)
{
    color_ = color;
    update();
}

QSize LinkButton::sizeHint() const
{
    const QFontMetrics metrics(font());
    int width = metrics.horizontalAdvance(text());
    if (systemImage_)
        width += int(VelloxTokens::Spacing::xs + kSymbolSize);
    return {width + 2, metrics.height() + 2 * kVerticalInset};
}

void LinkButton::paintEvent(QPaintEvent*)
{
    using namespace VelloxTokens;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, true);
    QColor color = color_.resolved(this);
    if (isDown())
        color = KitPainting::withOpacity(color, 0.6);
    if (!isEnabled())
        painter.setOpacity(0.45);
    painter.setPen(color);
    painter.setFont(font());
    const QFontMetrics metrics(font());
    const int textWidth = metrics.horizontalAdvance(text());
    painter.drawText(QRect(1, 0, textWidth, height()), Qt::AlignLeft | Qt::AlignVCenter, text());
    if (systemImage_) {
        const QRectF box(1 + textWidth + Spacing::xs, 0, kSymbolSize, height());
        SymbolImage::paint(painter, box, *systemImage_, color, kSymbolSize, QFont::DemiBold);
    }
    if (hasFocus())
        KitPainting::paintFocusRing(painter, QRectF(rect()), 3, Colors::accent.resolved(this));
}
