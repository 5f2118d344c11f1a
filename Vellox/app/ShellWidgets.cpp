#include "Vellox/app/ShellWidgets.h"

#include <QPainter>

namespace ShellWidgets {

QLabel* text(const QString& content, VelloxTokens::TypeStyle style, VelloxTokens::ColorToken color, bool wrap,
             QWidget* parent)
{
    auto* label = new QLabel(content, parent);
    label->setTextFormat(Qt::PlainText);
    label->setFont(style.font());
    label->setWordWrap(wrap);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    if (wrap)
        label->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Minimum);
    setTextColor(label, color);
    return label;
}

void fixWidth(QLabel* label, int width)
{
    label->setFixedWidth(width);
    const int wrapped = label->wordWrap() ? label->heightForWidth(width) : -1;
    label->setFixedHeight(wrapped > 0 ? wrapped : label->fontMetrics().height());
}

void setTextColor(QLabel* label, VelloxTokens::ColorToken color)
{
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color.resolved(label));
    label->setPalette(palette);
}

Divider::Divider(QWidget* parent)
    : QWidget(parent)
{
    setFixedHeight(1);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void Divider::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), VelloxTokens::Colors::divider.resolved(this));
}

Dot::Dot(VelloxTokens::ColorToken color, qreal diameter, QWidget* parent)
    : QWidget(parent)
    , color_(color)
    , diameter_(diameter)
{
    setFixedSize(sizeHint());
}

QSize Dot::sizeHint() const
{
    return {int(std::ceil(diameter_)), int(std::ceil(diameter_))};
}

void Dot::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(Qt::NoPen);
    painter.setBrush(color_.resolved(this));
    painter.drawEllipse(QRectF(0, 0, diameter_, diameter_));
}

} // namespace ShellWidgets
