#include "Vellox/panels/FloatingPanel.h"

#include "Vellox/app/VelloxTokens.h"

#include "platform/DesktopCompositing.h"
#include "platform/PanelWindowHints.h"

#include <QEvent>
#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QRegion>
#include <QPropertyAnimation>

FloatingPanel::FloatingPanel(Kind kind, const PanelCard::Style& style, QWidget* content)
    : QWidget(nullptr,
              Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::NoDropShadowWindowHint)
    , kind_(kind)
    , style_(style)
    , content_(content)
    , composited_(platform::desktopComposites())
{
    if (composited_) {
        setAttribute(Qt::WA_TranslucentBackground);
        setAttribute(Qt::WA_NoSystemBackground);
    }
    if (kind != Kind::keyable) {
        setWindowFlag(Qt::WindowDoesNotAcceptFocus);
        setAttribute(Qt::WA_ShowWithoutActivating);
    }
    if (kind == Kind::clickThrough)
        setWindowFlag(Qt::WindowTransparentForInput);
    content_->setParent(this);
    content_->move(margins().left(), margins().top());
    platform::markAsFloatingPanel(quint64(winId()));
}

QMargins FloatingPanel::margins() const
{
    return composited_ ? PanelCard::shadowMargins(style_) : QMargins();
}

void FloatingPanel::setCardFrame(const QRectF& frame)
{
    cardFrame_ = frame;
    const QMargins margins = this->margins();
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
    if (composited_) {
        PanelCard::paint(painter, QRectF(rect().marginsRemoved(margins())), style_, this);
        return;
    }
    PanelCard::Style flat = style_;
    flat.shadowOpacity = 0;
    painter.fillRect(rect(), PanelCard::materialColor(this, false));
    PanelCard::paint(painter, QRectF(rect()), flat, this);
    // With no shadow to lift it, the card needs a firmer edge.
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(VelloxTokens::Colors::surfaceBorder.resolved(this), 1));
    painter.setBrush(Qt::NoBrush);
    const QRectF edge = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    if (style_.shape == PanelCard::Style::Shape::circle)
        painter.drawEllipse(edge);
    else
        painter.drawRoundedRect(edge, style_.radius - 0.5, style_.radius - 0.5);
}

void FloatingPanel::resizeEvent(QResizeEvent*)
{
    if (composited_)
        return;
    QPainterPath shape;
    if (style_.shape == PanelCard::Style::Shape::circle)
        shape.addEllipse(QRectF(rect()));
    else
        shape.addRoundedRect(QRectF(rect()), style_.radius, style_.radius);
    setMask(QRegion(shape.toFillPolygon().toPolygon()));
}

bool FloatingPanel::event(QEvent* event)
{
    if (event->type() == QEvent::WindowActivate && !hasHadFocus_) {
        hasHadFocus_ = true;
        firstFocusedAt_.start();
        emit firstFocused();
    }
    return QWidget::event(event);
}
