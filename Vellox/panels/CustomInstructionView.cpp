#include "Vellox/panels/CustomInstructionView.h"

#include "Vellox/app/VelloxTokens.h"
#include "Vellox/panels/PanelTexts.h"
#include "Vellox/panels/SymbolIcons.h"

#include <QFontMetricsF>
#include <QLineEdit>
#include <QPainter>
#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <cmath>

namespace {

namespace Tokens = VelloxTokens;

constexpr double kIconSize = 12;
constexpr double kIconFrame = 18;
constexpr int kFieldPadding = 6;
constexpr double kFieldBorder = 1;

} // namespace

CustomInstructionView::CustomInstructionView(QWidget* parent)
    : QWidget(parent)
    , field_(new QLineEdit(this))
{
    field_->setFrame(false);
    field_->setFont(Tokens::Typography::body.font());
    field_->setAttribute(Qt::WA_MacShowFocusRect, false);
    field_->setTextMargins(0, 0, 0, 0);
    QPalette palette = field_->palette();
    palette.setColor(QPalette::Base, Qt::transparent);
    palette.setColor(QPalette::Text, Tokens::Colors::textPrimary.resolved(this));
    palette.setColor(QPalette::Highlight, Tokens::Colors::accent.resolved(this));
    field_->setPalette(palette);
    field_->setStyleSheet(QStringLiteral("QLineEdit { background: transparent; border: none; padding: 0; }"));
    resize(fittingSize());
}

QString CustomInstructionView::draft() const
{
    return field_->text();
}

int CustomInstructionView::headerHeight() const
{
    return int(std::ceil(std::max(QFontMetricsF(Tokens::Typography::headline.font()).height(), kIconSize)));
}

int CustomInstructionView::fieldHeight() const
{
    return int(std::ceil(QFontMetricsF(Tokens::Typography::body.font()).height())) + 2 * kFieldPadding;
}

QSize CustomInstructionView::fittingSize() const
{
    const double m = Tokens::Spacing::m;
    return QSize(layoutWidth, int(m + headerHeight() + m + fieldHeight() + m));
}

void CustomInstructionView::focusField()
{
    field_->setFocus(Qt::OtherFocusReason);
    QTimer::singleShot(0, field_, [field = QPointer<QLineEdit>(field_)] {
        if (field)
            field->setFocus(Qt::OtherFocusReason);
    });
}

int CustomInstructionView::contentTop() const
{
    // A card held to the panel's least height keeps its content centred.
    return std::max(0, (height() - fittingSize().height()) / 2);
}

void CustomInstructionView::resizeEvent(QResizeEvent*)
{
    const int m = int(Tokens::Spacing::m);
    const int fieldTop = contentTop() + m + headerHeight() + m;
    field_->setGeometry(m + kFieldPadding, fieldTop + kFieldPadding, width() - 2 * m - 2 * kFieldPadding,
                        fieldHeight() - 2 * kFieldPadding);
}

void CustomInstructionView::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    const double m = Tokens::Spacing::m;
    const double top = contentTop();
    const QRectF header(m, top + m, width() - 2 * m, headerHeight());
    SymbolIcons::paint(p, QRectF(header.left(), header.top(), kIconFrame, header.height()),
                       QStringLiteral("text.cursor"), kIconSize + 2, Tokens::Colors::accent.resolved(this));
    p.setFont(Tokens::Typography::headline.font());
    p.setPen(Tokens::Colors::textPrimary.resolved(this));
    p.drawText(header.adjusted(kIconFrame + Tokens::Spacing::s, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter,
               PanelTexts::instructionQuestion());

    const double inset = kFieldBorder / 2;
    const QRectF field(m, top + m + headerHeight() + m, width() - 2 * m, fieldHeight());
    p.setPen(QPen(Tokens::Colors::divider.resolved(this), kFieldBorder));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(field.adjusted(inset, inset, -inset, -inset), Tokens::Radius::control - inset,
                      Tokens::Radius::control - inset);
}
