#pragma once

#include <QAbstractButton>

#include <functional>

// The bordered, untinted companion of PrimaryButton. It fills the width its
// layout offers.
class SecondaryButton : public QAbstractButton {
    Q_OBJECT
public:
    SecondaryButton(QString title, std::function<void()> action, QWidget* parent = nullptr);

    QString title() const { return text(); }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;

private:
    std::function<void()> action_;
    // The ring shows for focus moved by the keyboard only.
    bool keyboardFocus_ = false;
};
