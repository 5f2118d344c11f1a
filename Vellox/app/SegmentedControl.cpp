#include "Vellox/app/SegmentedControl.h"

#include "Vellox/app/KitPainting.h"
#include "Vellox/app/VelloxTokens.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QHash>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>

namespace {
constexpr int kHeight = 26;
constexpr qreal kInset = 2;

// One segment, exposed as a radio button, so screen readers list the choices,
// say which one is chosen, and can pick another.
class SegmentAccessible final : public QAccessibleInterface, public QAccessibleActionInterface {
public:
    SegmentAccessible(SegmentedControl* control, int index)
        : control_(control)
        , index_(index)
    {
    }

    void* interface_cast(QAccessible::InterfaceType type) override
    {
        return type == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface*>(this) : nullptr;
    }
    bool isValid() const override { return control_ && index_ < control_->labels().size(); }
    QObject* object() const override { return nullptr; }
    QAccessibleInterface* parent() const override { return QAccessible::queryAccessibleInterface(control_.data()); }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QString text(QAccessible::Text t) const override
    {
        return t == QAccessible::Name && isValid() ? control_->labels().at(index_) : QString();
    }
    void setText(QAccessible::Text, const QString&) override {}
    QRect rect() const override
    {
        if (!isValid())
            return {};
        const QRect local = control_->segmentRect(index_);
        return QRect(control_->mapToGlobal(local.topLeft()), local.size());
    }
    QAccessible::Role role() const override { return QAccessible::RadioButton; }
    QAccessible::State state() const override
    {
        QAccessible::State state;
        state.checkable = true;
        if (!isValid())
            return state;
        state.checked = control_->currentIndex() == index_;
        state.disabled = !control_->isEnabled();
        state.invisible = !control_->isVisible();
        return state;
    }

    QStringList actionNames() const override { return {pressAction()}; }
    void doAction(const QString& name) override
    {
        if (name == pressAction() && isValid() && control_->isEnabled())
            control_->activate(index_);
    }
    QStringList keyBindingsForAction(const QString&) const override { return {}; }

private:
    QPointer<SegmentedControl> control_;
    int index_;
};

// The control: a group named by its label, whose children are the segments.
class SegmentedControlAccessible final : public QAccessibleWidget {
public:
    explicit SegmentedControlAccessible(SegmentedControl* control)
        : QAccessibleWidget(control, QAccessible::Grouping)
    {
    }
    ~SegmentedControlAccessible() override
    {
        for (QAccessible::Id id : std::as_const(segments_))
            QAccessible::deleteAccessibleInterface(id);
    }

    int childCount() const override { return int(control()->labels().size()); }
    QAccessibleInterface* child(int index) const override
    {
        if (index < 0 || index >= childCount())
            return nullptr;
        if (const QAccessible::Id id = segments_.value(index))
            return QAccessible::accessibleInterface(id);
        auto* segment = new SegmentAccessible(control(), index);
        segments_.insert(index, QAccessible::registerAccessibleInterface(segment));
        return segment;
    }
    int indexOfChild(const QAccessibleInterface* child) const override
    {
        for (auto it = segments_.cbegin(); it != segments_.cend(); ++it)
            if (QAccessible::accessibleInterface(it.value()) == child)
                return it.key();
        return -1;
    }
    QAccessibleInterface* childAt(int x, int y) const override
    {
        for (int i = 0; i < childCount(); ++i)
            if (child(i)->rect().contains(x, y))
                return child(i);
        return nullptr;
    }

private:
    SegmentedControl* control() const { return static_cast<SegmentedControl*>(widget()); }

    mutable QHash<int, QAccessible::Id> segments_;
};

QAccessibleInterface* segmentedControlFactory(const QString& className, QObject* object)
{
    if (className == QLatin1String("SegmentedControl") && object && object->isWidgetType())
        return new SegmentedControlAccessible(static_cast<SegmentedControl*>(object));
    return nullptr;
}

} // namespace

SegmentedControl::SegmentedControl(QStringList labels, QWidget* parent)
    : QWidget(parent)
    , labels_(std::move(labels))
{
    setFont(VelloxTokens::Typography::body.font());
    setFocusPolicy(Qt::TabFocus);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(segmentedControlFactory);
        return true;
    }();
    (void)factoryInstalled;
}

void SegmentedControl::activate(int index)
{
    if (index < 0 || index >= labels_.size())
        return;
    setCurrentIndex(index);
    emit activated(index);
}

QRect SegmentedControl::segmentRect(int index) const
{
    const int count = qMax<int>(1, int(labels_.size()));
    const int left = index * width() / count;
    return QRect(left, 0, (index + 1) * width() / count - left, height());
}

void SegmentedControl::setCurrentIndex(int index)
{
    if (index < 0 || index >= labels_.size() || index == current_)
        return;
    const int previous = current_;
    current_ = index;
    update();
    if (QAccessible::isActive()) {
        QAccessibleInterface* self = QAccessible::queryAccessibleInterface(this);
        for (int segment : {previous, index}) {
            QAccessibleStateChangeEvent change(self->child(segment), [] {
                QAccessible::State checked;
                checked.checked = true;
                return checked;
            }());
            QAccessible::updateAccessibility(&change);
        }
    }
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
    if (index >= 0)
        activate(index);
}

void SegmentedControl::keyPressEvent(QKeyEvent* event)
{
    const int step = event->key() == Qt::Key_Left ? -1 : event->key() == Qt::Key_Right ? 1 : 0;
    if (!step) {
        QWidget::keyPressEvent(event);
        return;
    }
    const int index = qBound(0, current_ + step, int(labels_.size()) - 1);
    if (index != current_)
        activate(index);
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
