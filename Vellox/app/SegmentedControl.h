#pragma once

#include <QStringList>
#include <QWidget>

// A row of mutually exclusive segments, drawn like a native segmented picker:
// a sunken track with the chosen segment raised.
class SegmentedControl : public QWidget {
    Q_OBJECT
public:
    explicit SegmentedControl(QStringList labels, QWidget* parent = nullptr);

    int currentIndex() const { return current_; }
    // Programmatic changes do not emit activated().
    void setCurrentIndex(int index);
    const QStringList& labels() const { return labels_; }
    // Picks a segment as a click on it does (assistive technology presses
    // segments through this).
    void activate(int index);
    QRect segmentRect(int index) const;

    QSize sizeHint() const override;

signals:
    // The user picked a segment (also the current one again).
    void activated(int index);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    int segmentAt(QPoint point) const;

    QStringList labels_;
    int current_ = 0;
};
