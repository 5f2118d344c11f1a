#include "Vellox/app/SectionLabel.h"

#include "Vellox/app/VelloxTokens.h"

#include <QFontMetrics>
#include <QPainter>

namespace {
constexpr int kPixelSize = 10;
constexpr qreal kTracking = 0.6;
} // namespace

SectionLabel::SectionLabel(QString text, QWidget* parent)
    : QWidget(parent)
    , text_(std::move(text))
{
    QFont font = VelloxTokens::TypeStyle{kPixelSize, QFont::DemiBold}.font();
    font.setLetterSpacing(QFont::AbsoluteSpacing, kTracking);
    setFont(font);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

QString SectionLabel::displayedText() const
{
    return text_.toUpper();
}

QSize SectionLabel::sizeHint() const
{
    const QFontMetrics metrics(font());
    return {metrics.horizontalAdvance(displayedText()), metrics.height()};
}

void SectionLabel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setPen(VelloxTokens::Colors::textSecondary.resolved(this));
    painter.setFont(font());
    painter.drawText(rect(), Qt::AlignLeft | Qt::AlignVCenter, displayedText());
}
