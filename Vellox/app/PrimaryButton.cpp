#include "Vellox/app/PrimaryButton.h"

#include "Vellox/app/KitPainting.h"
#include "Vellox/app/SymbolImage.h"
#include "Vellox/app/VelloxTokens.h"

#include <QFocusEvent>
#include <QFontMetrics>
#include <QPainter>

#include <cmath>

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
    int width = int(std::ceil(QFontMetricsF(font()).horizontalAdvance(text()))) + 2 * kHorizontalInset;
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

    // Elided only against the room the button has; measuring the title by
    // its own rounded width would cut a title that fits.
    const qreal symbolWidth = systemImage_ ? kSymbolSize + Spacing::s : 0;
    const QString shown = shownTitle();
    const qreal textWidth = qMin(textRoom(), QFontMetricsF(font()).horizontalAdvance(shown));
    qreal x = (width() - (symbolWidth + textWidth)) / 2;
    if (systemImage_) {
        SymbolImage::paint(painter, QRectF(x, 0, kSymbolSize, height()), *systemImage_, Qt::white, kSymbolSize,
                           QFont::DemiBold);
        x += symbolWidth;
    }
    painter.setPen(Qt::white);
    painter.setFont(font());
    // The rectangle runs to the inset, so rounding never clips the last glyph.
    painter.drawText(QRectF(x, 0, width() - kHorizontalInset - x, height()), Qt::AlignLeft | Qt::AlignVCenter, shown);
}

qreal PrimaryButton::textRoom() const
{
    const qreal symbolWidth = systemImage_ ? kSymbolSize + VelloxTokens::Spacing::s : 0;
    return qMax<qreal>(0, width() - 2 * kHorizontalInset - symbolWidth);
}

QString PrimaryButton::shownTitle() const
{
    return QFontMetricsF(font()).elidedText(text(), Qt::ElideRight, textRoom());
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
