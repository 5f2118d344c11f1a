#include "Vellox/app/SwitchControl.h"

#include "Vellox/app/KitPainting.h"
#include "Vellox/app/VelloxTokens.h"

#include <QFocusEvent>
#include <QPainter>
#include <QVariantAnimation>

namespace {
// The small control size of a switch.
constexpr int kWidth = 28;
constexpr int kHeight = 16;
} // namespace

SwitchControl::SwitchControl(Binding<bool> isOn, QWidget* parent)
    : QAbstractButton(parent)
    , isOn_(std::move(isOn))
    , knob_(KitPainting::makeFade(this, VelloxTokens::Motion::hoverFadeMs))
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setFocusPolicy(Qt::TabFocus);
    setAccessibleName(QString());
    shown_ = isOn_.get();
    setCheckable(true);
    setChecked(shown_);
    KitPainting::fadeTo(knob_, shown_ ? 1.0 : 0.0);
    // Every way of toggling ends here: a click, the keyboard, and a screen
    // reader's action, which sets the checked state without a click.
    connect(this, &QAbstractButton::toggled, this, [this](bool on) {
        if (on != isOn_.get())
            isOn_.set(on);
        refresh();
    });
}

bool SwitchControl::isOn() const
{
    return isOn_.get();
}

void SwitchControl::refresh()
{
    const bool on = isOn_.get();
    // The caller may keep its value (or change another one with it); the
    // checked state follows what it holds.
    setChecked(on);
    if (on == shown_)
        return;
    shown_ = on;
    KitPainting::fadeTo(knob_, on ? 1.0 : 0.0);
}

QSize SwitchControl::sizeHint() const
{
    return {kWidth, kHeight};
}

void SwitchControl::paintEvent(QPaintEvent*)
{
    using namespace VelloxTokens;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, true);
    if (!isEnabled())
        painter.setOpacity(0.45);
    const qreal progress = knob_->currentValue().toReal();
    const QRectF track(0.5, (height() - kHeight) / 2.0 + 0.5, kWidth - 1, kHeight - 1);
    const bool dark = appearanceOf(this) == Appearance::dark;
    const QColor off = dark ? QColor(255, 255, 255, 46) : QColor(0, 0, 0, 30);
    const QColor on = Colors::accent.resolved(this);
    QColor fill;
    fill.setRgbF(off.redF() + (on.redF() - off.redF()) * progress, off.greenF() + (on.greenF() - off.greenF()) * progress,
                 off.blueF() + (on.blueF() - off.blueF()) * progress,
                 off.alphaF() + (on.alphaF() - off.alphaF()) * progress);
    KitPainting::fillRoundedRect(painter, track, track.height() / 2, fill);
    const qreal knobSize = track.height() - 2;
    const qreal knobX = track.left() + 1 + (track.width() - knobSize - 2) * progress;
    painter.setPen(QPen(QColor(0, 0, 0, 40), 0.5));
    painter.setBrush(Qt::white);
    painter.drawEllipse(QRectF(knobX, track.top() + 1, knobSize, knobSize));
    if (hasFocus() && keyboardFocus_)
        KitPainting::paintFocusRing(painter, QRectF(rect()).adjusted(-1, -1, 1, 1), kHeight / 2.0, on);
}

void SwitchControl::focusInEvent(QFocusEvent* event)
{
    QAbstractButton::focusInEvent(event);
    keyboardFocus_ = event->reason() == Qt::TabFocusReason || event->reason() == Qt::BacktabFocusReason;
}
