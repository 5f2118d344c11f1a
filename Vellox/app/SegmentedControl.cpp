#include "Vellox/app/SegmentedControl.h"

#include "Vellox/app/KitPainting.h"
#include "Vellox/app/VelloxTokens.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

namespace {
constexpr int kHeight = 26;
constexpr qreal kInset = 2;
} // namespace

SegmentedControl::SegmentedControl(QStringList labels, QWidget* parent)
    : QWidget(parent)
    , labels_(std::move(labels))
{
    setFont(VelloxTokens::Typography::body.font());
    setFocusPolicy(Qt::TabFocus);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void SegmentedControl::setCurrentIndex(int index)
{
    if (index < 0 || index >= labels_.size() || index == current_)
        return;
    current_ = index;
    update();
}

QSize SegmentedControl::sizeHint() const
{
    int widest = 0;
    for (const QString& label : labels_)
        widest = qMax(widest, fontMetrics().horizontalAdvance(label));
    return {int(labels_.size()) * (widest + 24), kHeight};
}

int SegmentedControl::segmentAt(QPoint point) const
{
    if (labels_.isEmpty() || !rect().contains(point))
        return -1;
    return qBound(0, int(point.x() * labels_.size() / qMax(1, width())), int(labels_.size()) - 1);
}

void SegmentedControl::mouseReleaseEvent(QMouseEvent* event)
{
    if (!isEnabled() || event->button() != Qt::LeftButton)
        return;
    const int index = segmentAt(event->position().toPoint());
    if (index < 0)
        return;
    setCurrentIndex(index);
    emit activated(index);
}

void SegmentedControl::keyPressEvent(QKeyEvent* event)
{
    const int step = event->key() == Qt::Key_Left ? -1 : event->key() == Qt::Key_Right ? 1 : 0;
    if (!step) {
        QWidget::keyPressEvent(event);
        return;
    }
    const int index = qBound(0, current_ + step, int(labels_.size()) - 1);
    if (index != current_) {
        setCurrentIndex(index);
        emit activated(index);
    }
}

void SegmentedControl::paintEvent(QPaintEvent*)
{
    using namespace VelloxTokens;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, true);
    if (!isEnabled())
        painter.setOpacity(0.5);
    const bool dark = appearanceOf(this) == Appearance::dark;
    const QRectF track = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    KitPainting::fillRoundedRect(painter, track, Radius::control + 1, dark ? QColor(255, 255, 255, 26) : QColor(0, 0, 0, 16));
    const qreal segment = track.width() / qMax<qsizetype>(1, labels_.size());
    for (int i = 0; i < labels_.size(); ++i) {
        const QRectF cell(track.left() + i * segment, track.top(), segment, track.height());
        if (i == current_) {
            const QRectF raised = cell.adjusted(kInset, kInset, -kInset, -kInset);
            painter.setPen(QPen(QColor(0, 0, 0, dark ? 60 : 30), 0.5));
            painter.setBrush(dark ? QColor(255, 255, 255, 60) : QColor(255, 255, 255));
            painter.drawRoundedRect(raised, Radius::control - 1, Radius::control - 1);
        } else if (i > 0 && i - 1 != current_) {
            painter.setPen(QPen(Colors::divider.resolved(this), 1));
            painter.drawLine(QPointF(cell.left(), cell.top() + 6), QPointF(cell.left(), cell.bottom() - 6));
        }
        painter.setPen(Colors::textPrimary.resolved(this));
        painter.setFont(i == current_ ? Typography::body.font(QFont::Medium) : font());
        painter.drawText(cell, Qt::AlignCenter, labels_[i]);
    }
    if (hasFocus())
        KitPainting::paintFocusRing(painter, QRectF(rect()), Radius::control + 1, Colors::accent.resolved(this));
}
