#include "Vellox/app/SecondaryButton.h"

#include "Vellox/app/KitPainting.h"
#include "Vellox/app/VelloxTokens.h"

#include <QFocusEvent>
#include <QFontMetrics>
#include <QPainter>

namespace {
constexpr int kHeight = 32;
constexpr int kHorizontalInset = 16;
} // namespace

SecondaryButton::SecondaryButton(QString title, std::function<void()> action, QWidget* parent)
    : QAbstractButton(parent)
    , action_(std::move(action))
{
    setText(title);
    setFont(VelloxTokens::Typography::body.font());
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_Hover);
    connect(this, &QAbstractButton::clicked, this, [this] {
        if (action_)
            action_();
    });
}

QSize SecondaryButton::sizeHint() const
{
    return {QFontMetrics(font()).horizontalAdvance(text()) + 2 * kHorizontalInset, kHeight};
}

QSize SecondaryButton::minimumSizeHint() const
{
    return sizeHint();
}

void SecondaryButton::paintEvent(QPaintEvent*)
{
    using namespace VelloxTokens;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, true);
    const bool dark = appearanceOf(this) == Appearance::dark;
    QColor fill = dark ? QColor(255, 255, 255, 30) : QColor(255, 255, 255);
    if (isDown())
        fill = dark ? QColor(255, 255, 255, 50) : QColor(0xe4, 0xe4, 0xe4);
    else if (underMouse())
        fill = dark ? QColor(255, 255, 255, 40) : QColor(0xf2, 0xf2, 0xf2);
    if (!isEnabled())
        painter.setOpacity(0.45);
    const QRectF frame = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    KitPainting::fillRoundedRect(painter, frame, Radius::control, fill);
    painter.setPen(QPen(dark ? QColor(255, 255, 255, 36) : QColor(0, 0, 0, 40), 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(frame, Radius::control, Radius::control);
    if (hasFocus() && keyboardFocus_)
        KitPainting::paintFocusRing(painter, QRectF(rect()), Radius::control + 1, Colors::accent.resolved(this));

    painter.setPen(Colors::textPrimary.resolved(this));
    painter.setFont(font());
    const QFontMetrics metrics(font());
    painter.drawText(rect().adjusted(kHorizontalInset, 0, -kHorizontalInset, 0), Qt::AlignCenter,
                     metrics.elidedText(text(), Qt::ElideRight, width() - 2 * kHorizontalInset));
}

void SecondaryButton::enterEvent(QEnterEvent* event)
{
    QAbstractButton::enterEvent(event);
    update();
}

void SecondaryButton::leaveEvent(QEvent* event)
{
    QAbstractButton::leaveEvent(event);
    update();
}

void SecondaryButton::focusInEvent(QFocusEvent* event)
{
    QAbstractButton::focusInEvent(event);
    keyboardFocus_ = event->reason() == Qt::TabFocusReason || event->reason() == Qt::BacktabFocusReason;
}
