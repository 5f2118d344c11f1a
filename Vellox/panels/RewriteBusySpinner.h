#pragma once

#include <QWidget>

class FloatingPanel;

// A small round chip with a spinning ring beside the selection while the
// provider works. It never takes the keyboard and lets clicks through to the
// window beneath. Main thread.
class RewriteBusySpinner {
public:
    static constexpr int chip = 26;

    // Shows the chip unless it shows already; then nothing happens at all.
    static void show();
    // Takes the chip off screen at once and reports the spinner hidden; does
    // nothing when no chip shows.
    static void hide();

    static FloatingPanel* panel();

private:
    RewriteBusySpinner() = delete;
};

// The chip's content: an indeterminate ring in the accent colour.
class RewriteBusySpinnerView : public QWidget {
    Q_OBJECT
public:
    explicit RewriteBusySpinnerView(QWidget* parent = nullptr);

    // Freezes the ring at an angle, for pictures of it.
    void setFrozenAngle(double degrees);

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    double angle_ = 0;
    bool frozen_ = false;
    int timerId_ = 0;
    void timerEvent(QTimerEvent* event) override;
};
