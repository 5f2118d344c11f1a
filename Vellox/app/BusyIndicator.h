#pragma once

#include <QWidget>

class QVariantAnimation;

// An indeterminate progress ring. It turns only while shown, so a hidden
// indicator costs no timer wake-ups.
class BusyIndicator : public QWidget {
    Q_OBJECT
public:
    explicit BusyIndicator(int diameter, QWidget* parent = nullptr);
    QSize sizeHint() const override { return {diameter_, diameter_}; }
    bool isSpinning() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    int diameter_;
    QVariantAnimation* turn_;
};
