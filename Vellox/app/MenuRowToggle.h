#pragma once

#include "Vellox/app/Binding.h"

#include <QAbstractButton>

#include <optional>

class QVariantAnimation;
class SwitchControl;

// A menu row ending in a switch. A click anywhere on the row flips the
// caller's value once; so does a click on the switch itself.
class MenuRowToggle : public QAbstractButton {
    Q_OBJECT
public:
    MenuRowToggle(std::optional<QString> systemImage, QString title, Binding<bool> isOn, QWidget* parent = nullptr);

    bool isOn() const;
    SwitchControl* switchControl() const { return switch_; }
    // Re-reads the caller's value after it changed elsewhere.
    void refresh();
    bool isHovered() const { return hover_; }
    qreal hoverOpacity() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void setHover(bool hover);

    std::optional<QString> systemImage_;
    QString title_;
    Binding<bool> isOn_;
    SwitchControl* switch_;
    bool hover_ = false;
    QVariantAnimation* fade_;
};
