#include "Vellox/app/FormSection.h"

#include "Vellox/app/ShellWidgets.h"
#include "Vellox/app/VelloxTokens.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

using namespace VelloxTokens;

namespace {
constexpr int kRowVerticalPadding = 7;
} // namespace

// The card paints its background and the hairlines between visible rows.
class FormSection::Card : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing, true);
        const bool dark = appearanceOf(this) == Appearance::dark;
        QPainterPath card;
        const QRectF frame = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        card.addRoundedRect(frame, Radius::card - 2, Radius::card - 2);
        painter.fillPath(card, dark ? QColor(255, 255, 255, 13) : QColor(0, 0, 0, 8));
        painter.setPen(QPen(dark ? QColor(255, 255, 255, 20) : QColor(0, 0, 0, 20), 1));
        painter.drawPath(card);
        painter.setRenderHint(QPainter::Antialiasing, false);
        painter.setPen(QPen(Colors::divider.resolved(this), 1));
        bool first = true;
        for (QObject* child : children()) {
            auto* row = qobject_cast<QWidget*>(child);
            if (!row || !row->isVisible())
                continue;
            if (!first) {
                const int y = row->geometry().top() - 1;
                painter.drawLine(int(Spacing::m), y, width() - int(Spacing::m), y);
            }
            first = false;
        }
    }
};

FormSection::FormSection(const QString& header, QWidget* parent)
    : QWidget(parent)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    auto* heading = ShellWidgets::text(header, Typography::headline, Colors::textPrimary);
    heading->setContentsMargins(int(Spacing::xs), 0, 0, 0);
    layout->addWidget(heading);
    card_ = new Card;
    rows_ = new QVBoxLayout(card_);
    rows_->setContentsMargins(0, 0, 0, 0);
    rows_->setSpacing(1);
    layout->addWidget(card_);
}

void FormSection::addRow(QWidget* row)
{
    row->setContentsMargins(int(Spacing::m), kRowVerticalPadding, int(Spacing::m), kRowVerticalPadding);
    rows_->addWidget(row);
}

void FormSection::setFooter(const QString& text)
{
    if (!footer_) {
        footer_ = ShellWidgets::text(text, Typography::caption, Colors::textSecondary, true);
        footer_->setContentsMargins(int(Spacing::xs), 0, 0, 0);
        layout()->addWidget(footer_);
    }
    footer_->setText(text);
}

QWidget* FormSection::labelledRow(const QString& label, QWidget* control)
{
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(int(Spacing::m));
    auto* text = ShellWidgets::text(label, Typography::body, Colors::textPrimary);
    text->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    text->setBuddy(control);
    // Buttons and switches take no name from a buddy label; say it outright.
    if (control->accessibleName().isEmpty())
        control->setAccessibleName(label);
    layout->addWidget(text);
    layout->addStretch(1);
    layout->addWidget(control);
    return row;
}
