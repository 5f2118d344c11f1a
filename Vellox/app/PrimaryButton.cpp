#include "Vellox/app/PrimaryButton.h"

#include "Vellox/app/KitPainting.h"
#include "Vellox/app/SymbolImage.h"
#include "Vellox/app/VelloxTokens.h"

#include <QFocusEvent>
#include <QFontMetrics>
#include <QPainter>

namespace {
// The large control size: the height of a prominent button and its inset.
constexpr int kHeight = 32;
constexpr int kHorizontalInset = 16;
constexpr qreal kSymbolSize = 14;
} // namespace

PrimaryButton::PrimaryButton(QString title, std::optional<QString> systemImage, std::function<void()> action,
                             QWidget* parent)
    : QAbstractButton(parent)
    , systemImage_(std::move(systemImage))
    , action_(std::move(action))
{
    setText(title);
    setFont(VelloxTokens::Typography::headline.font());
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
    setAttribute(Qt::WA_Hover);
    connect(this, &QAbstractButton::clicked, this, [this] {
        if (action_)
            action_();
    });
}

QSize PrimaryButton::sizeHint() const
{
    const QFontMetrics metrics(font());
    int width = metrics.horizontalAdvance(text()) + 2 * kHorizontalInset;
    if (systemImage_)
        width += int(kSymbolSize + VelloxTokens::Spacing::s);
    return {width, kHeight};
}

QSize PrimaryButton::minimumSizeHint() const
{
    return sizeHint();
}

void PrimaryButton::paintEvent(QPaintEvent*)
{
    using namespace VelloxTokens;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, true);
    const QRectF frame = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QColor fill = Colors::accent.resolved(this);
    if (isDown())
        fill = fill.darker(118);
    else if (underMouse())
        fill = fill.lighter(108);
    if (!isEnabled())
        painter.setOpacity(0.45);
    KitPainting::fillRoundedRect(painter, frame, Radius::control, fill);
    if (hasFocus() && keyboardFocus_)
        KitPainting::paintFocusRing(painter, QRectF(rect()), Radius::control + 1, Colors::accent.resolved(this).lighter(140));

    const QFontMetrics metrics(font());
    const int textWidth = metrics.horizontalAdvance(text());
    const qreal symbolWidth = systemImage_ ? kSymbolSize + Spacing::s : 0;
    const qreal contentWidth = qMin<qreal>(textWidth + symbolWidth, width() - 2 * kHorizontalInset);
    qreal x = (width() - contentWidth) / 2;
    if (systemImage_) {
        SymbolImage::paint(painter, QRectF(x, 0, kSymbolSize, height()), *systemImage_, Qt::white, kSymbolSize,
                           QFont::DemiBold);
        x += symbolWidth;
    }
    painter.setPen(Qt::white);
    painter.setFont(font());
    const QString shown = metrics.elidedText(text(), Qt::ElideRight, int(contentWidth - symbolWidth));
    painter.drawText(QRectF(x, 0, contentWidth - symbolWidth, height()), Qt::AlignLeft | Qt::AlignVCenter, shown);
}

void PrimaryButton::enterEvent(QEnterEvent* event)
{
    QAbstractButton::enterEvent(event);
    update();
}

void PrimaryButton::leaveEvent(QEvent* event)
{
    QAbstractButton::leaveEvent(event);
    update();
}

void PrimaryButton::focusInEvent(QFocusEvent* event)
{
    QAbstractButton::focusInEvent(event);
    keyboardFocus_ = event->reason() == Qt::TabFocusReason || event->reason() == Qt::BacktabFocusReason;
}
