#include "Vellox/app/MenuRow.h"

#include "Vellox/app/KitPainting.h"
#include "Vellox/app/VelloxTokens.h"

#include <QFocusEvent>
#include <QFontMetrics>
#include <QPainter>
#include <QVariantAnimation>

MenuRow::MenuRow(MenuRowBody::Content content, std::function<void()> action, QWidget* parent)
    : QAbstractButton(parent)
    , content_(std::move(content))
    , action_(std::move(action))
    , fade_(KitPainting::makeFade(this, VelloxTokens::Motion::hoverFadeMs))
{
    setText(content_.title);
    setFont(VelloxTokens::Typography::body.font());
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setFocusPolicy(Qt::TabFocus);
    setAttribute(Qt::WA_Hover);
    connect(this, &QAbstractButton::clicked, this, [this] {
        if (action_)
            action_();
    });
}

void MenuRow::setContent(const MenuRowBody::Content& content)
{
    content_ = content;
    setText(content.title);
    updateGeometry();
    update();
}

qreal MenuRow::hoverOpacity() const
{
    return fade_->currentValue().toReal();
}

QSize MenuRow::sizeHint() const
{
    const QFontMetrics metrics(font());
    int width = MenuRowBody::titleOffset(content_) + metrics.horizontalAdvance(content_.title) + 40;
    return {width, MenuRowBody::rowHeight(font())};
}

void MenuRow::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    MenuRowBody::paintRow(painter, this, rect(), content_, hoverOpacity());
}

void MenuRow::setHover(bool hover)
{
    if (hover_ == hover)
        return;
    hover_ = hover;
    KitPainting::fadeTo(fade_, hover ? 1.0 : 0.0);
}

void MenuRow::enterEvent(QEnterEvent* event)
{
    QAbstractButton::enterEvent(event);
    setHover(true);
}

void MenuRow::leaveEvent(QEvent* event)
{
    QAbstractButton::leaveEvent(event);
    setHover(keyboardFocus_);
}

// Keyboard focus shows the same background as the pointer, so Tab through a
// menu reads like hovering it.
void MenuRow::focusInEvent(QFocusEvent* event)
{
    QAbstractButton::focusInEvent(event);
    // Only focus the user moved with the keyboard: the focus a window hands
    // its first row on showing would otherwise look hovered.
    keyboardFocus_ = event->reason() == Qt::TabFocusReason || event->reason() == Qt::BacktabFocusReason;
    if (keyboardFocus_)
        setHover(true);
}

void MenuRow::focusOutEvent(QFocusEvent* event)
{
    QAbstractButton::focusOutEvent(event);
    keyboardFocus_ = false;
    setHover(underMouse());
}
