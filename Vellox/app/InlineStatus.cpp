#include "Vellox/app/InlineStatus.h"

#include "Vellox/app/ShellAccessibility.h"
#include "Vellox/app/VelloxTokens.h"

#include <QAccessible>
#include <QFontMetrics>
#include <QPainter>

namespace {
constexpr qreal kDot = 6;
const int kTextInset = int(kDot + VelloxTokens::Spacing::s);
} // namespace

InlineStatus::InlineStatus(Tone tone, QString text, QWidget* parent)
    : QWidget(parent)
    , tone_(tone)
    , text_(std::move(text))
{
    ShellAccessibility::install();
    setFont(VelloxTokens::Typography::secondary.font());
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Minimum);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

void InlineStatus::set(Tone tone, const QString& text)
{
    if (tone == tone_ && text == text_)
        return;
    tone_ = tone;
    const bool newText = text != text_;
    text_ = text;
    updateGeometry();
    update();
    if (newText) {
        QAccessibleEvent event(this, QAccessible::NameChanged);
        QAccessible::updateAccessibility(&event);
    }
}

QColor InlineStatus::dotColor(Tone tone, const QWidget* widget)
{
    using namespace VelloxTokens::Colors;
    switch (tone) {
    case Tone::neutral:
        return textSecondary.resolved(widget);
    case Tone::success:
        return success.resolved(widget);
    case Tone::warning:
        return warning.resolved(widget);
    case Tone::danger:
        return danger.resolved(widget);
    }
    return textSecondary.resolved(widget);
}

QSize InlineStatus::sizeHint() const
{
    const QFontMetrics metrics(font());
    return {kTextInset + metrics.horizontalAdvance(text_) + 1, metrics.height()};
}

int InlineStatus::heightForWidth(int width) const
{
    return qMax(QFontMetrics(font()).height(), textRect(width).height());
}

QRect InlineStatus::textRect(int width) const
{
    const QFontMetrics metrics(font());
    const int available = qMax(1, width - kTextInset);
    return metrics.boundingRect(QRect(kTextInset, 0, available, 10000), Qt::TextWordWrap | Qt::AlignLeft, text_);
}

void InlineStatus::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, true);
    const QFontMetrics metrics(font());
    // The dot sits on the first line's centre, so a wrapped text hangs below it.
    const qreal firstLineCentre = metrics.height() / 2.0;
    painter.setPen(Qt::NoPen);
    painter.setBrush(dotColor(tone_, this));
    painter.drawEllipse(QRectF(0, firstLineCentre - kDot / 2, kDot, kDot));
    painter.setPen(VelloxTokens::Colors::textSecondary.resolved(this));
    painter.setFont(font());
    painter.drawText(QRect(kTextInset, 0, width() - kTextInset, height()), Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignTop,
                     text_);
}
