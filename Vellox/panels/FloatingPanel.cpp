#include "Vellox/panels/FloatingPanel.h"

#include <QEvent>
#include <QGuiApplication>
#include <QPainter>
#include <QPropertyAnimation>

FloatingPanel::FloatingPanel(Kind kind, const PanelCard::Style& style, QWidget* content)
    : QWidget(nullptr,
              Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::NoDropShadowWindowHint)
    , kind_(kind)
    , style_(style)
    , content_(content)
{
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_NoSystemBackground);
    if (kind != Kind::keyable) {
        setWindowFlag(Qt::WindowDoesNotAcceptFocus);
        setAttribute(Qt::WA_ShowWithoutActivating);
    }
    if (kind == Kind::clickThrough)
        setWindowFlag(Qt::WindowTransparentForInput);
    content_->setParent(this);
    const QMargins margins = PanelCard::shadowMargins(style_);
    content_->move(margins.left(), margins.top());
}

void FloatingPanel::setCardFrame(const QRectF& frame)
{
    cardFrame_ = frame;
    const QMargins margins = PanelCard::shadowMargins(style_);
    const QSize cardSize(qRound(frame.width()), qRound(frame.height()));
    content_->resize(cardSize);
    setGeometry(QRect(QPoint(qRound(frame.x()) - margins.left(), qRound(frame.y()) - margins.top()),
                      cardSize.grownBy(margins)));
}

void FloatingPanel::setOpacity(double opacity)
{
    opacity_ = opacity;
    static const bool applies = QGuiApplication::platformName() != QLatin1String("offscreen");
    if (applies)
        setWindowOpacity(opacity);
}

void FloatingPanel::orderFront(double opacity)
{
    setOpacity(opacity);
    show();
    // Raising is the window manager's business; offscreen has none.
    static const bool raises = QGuiApplication::platformName() != QLatin1String("offscreen");
    if (raises)
        raise();
}

void FloatingPanel::fadeTo(double opacity, int durationMs, std::function<void()> done)
{
    if (fade_)
        fade_->stop();
    auto* animation = new QPropertyAnimation(this, "opacity", this);
    animation->setDuration(durationMs);
    animation->setEndValue(opacity);
    if (done)
        connect(animation, &QPropertyAnimation::finished, this, std::move(done));
    fade_ = animation;
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}

void FloatingPanel::orderOut()
{
    if (fade_)
        fade_->stop();
    hide();
}

void FloatingPanel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QMargins margins = PanelCard::shadowMargins(style_);
    PanelCard::paint(painter, QRectF(rect().marginsRemoved(margins)), style_, this);
}

bool FloatingPanel::event(QEvent* event)
{
    if (event->type() == QEvent::WindowActivate && !hasHadFocus_) {
        hasHadFocus_ = true;
        emit firstFocused();
    }
    return QWidget::event(event);
}
