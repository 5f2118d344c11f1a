#pragma once

#include <QAbstractButton>

#include <functional>
#include <optional>

class QVariantAnimation;

// The filled accent button of a window's main action. It fills the width its
// layout offers; the symbol, when given, stands before the title.
class PrimaryButton : public QAbstractButton {
    Q_OBJECT
public:
    PrimaryButton(QString title, std::optional<QString> systemImage, std::function<void()> action,
                  QWidget* parent = nullptr);

    QString title() const { return text(); }
    const std::optional<QString>& systemImage() const { return systemImage_; }
    // The title as drawn at the current width, elided only when it does not fit.
    QString shownTitle() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;

private:
    qreal textRoom() const;

    std::optional<QString> systemImage_;
    std::function<void()> action_;
    // The ring shows for focus moved by the keyboard only.
    bool keyboardFocus_ = false;
};
