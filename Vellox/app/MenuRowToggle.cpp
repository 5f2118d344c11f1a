#include "Vellox/app/MenuRowToggle.h"

#include "Vellox/app/KitPainting.h"
#include "Vellox/app/MenuRowBody.h"
#include "Vellox/app/SwitchControl.h"
#include "Vellox/app/VelloxTokens.h"

#include <QFontMetrics>
#include <QPainter>
#include <QVariantAnimation>

MenuRowToggle::MenuRowToggle(std::optional<QString> systemImage, QString title, Binding<bool> isOn, QWidget* parent)
    : QAbstractButton(parent)
    , systemImage_(std::move(systemImage))
    , title_(std::move(title))
    , isOn_(std::move(isOn))
    , switch_(new SwitchControl(isOn_, this))
    , fade_(KitPainting::makeFade(this, VelloxTokens::Motion::hoverFadeMs))
{
    setText(title_);
    setFont(VelloxTokens::Typography::body.font());
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setFocusPolicy(Qt::TabFocus);
    setAttribute(Qt::WA_Hover);
    switch_->setFocusPolicy(Qt::NoFocus);
    // The row is the control the keyboard reaches, so it carries the checked
    // state too; row and switch toggle each other, and the switch writes the
    // caller's value.
    switch_->setAccessibleName(title_);
    setCheckable(true);
    setChecked(switch_->isChecked());
    connect(this, &QAbstractButton::toggled, switch_, &QAbstractButton::setChecked);
    connect(switch_, &QAbstractButton::toggled, this, &QAbstractButton::setChecked);
}

bool MenuRowToggle::isOn() const
{
    return isOn_.get();
}

void MenuRowToggle::refresh()
{
    switch_->refresh();
}

qreal MenuRowToggle::hoverOpacity() const
{
    return fade_->currentValue().toReal();
}

QSize MenuRowToggle::sizeHint() const
{
    const QFontMetrics metrics(font());
    MenuRowBody::Content content{systemImage_, title_, {}, false};
    return {MenuRowBody::titleOffset(content) + metrics.horizontalAdvance(title_) + 60, MenuRowBody::rowHeight(font())};
}

void MenuRowToggle::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const int reserve = switch_->width() + int(VelloxTokens::Spacing::s);
    MenuRowBody::paintRow(painter, this, rect(), MenuRowBody::Content{systemImage_, title_, {}, false}, hoverOpacity(),
                          reserve, true);
    if (hasFocus())
        KitPainting::paintFocusRing(painter, QRectF(rect()), VelloxTokens::Radius::control,
                                    VelloxTokens::Colors::accent.resolved(this));
}

void MenuRowToggle::resizeEvent(QResizeEvent* event)
{
    QAbstractButton::resizeEvent(event);
    const QSize size = switch_->sizeHint();
    switch_->setGeometry(width() - int(VelloxTokens::Spacing::s) - size.width(), (height() - size.height()) / 2,
                         size.width(), size.height());
}

void MenuRowToggle::setHover(bool hover)
{
    if (hover_ == hover)
        return;
    hover_ = hover;
    KitPainting::fadeTo(fade_, hover ? 1.0 : 0.0);
}

void MenuRowToggle::enterEvent(QEnterEvent* event)
{
    QAbstractButton::enterEvent(event);
    setHover(true);
}

void MenuRowToggle::leaveEvent(QEvent* event)
{
    QAbstractButton::leaveEvent(event);
    setHover(false);
}
