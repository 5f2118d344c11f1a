#pragma once

#include <QWidget>

// The onboarding window: 480 x 520, no title, a close button only, and
// movable by dragging its background.
class OnboardingWindow : public QWidget {
    Q_OBJECT
public:
    explicit OnboardingWindow(QWidget* content);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
};
