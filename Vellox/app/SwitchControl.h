#pragma once

#include "Vellox/app/Binding.h"

#include <QAbstractButton>

class QVariantAnimation;

// A small on/off switch tinted with the accent. Its value lives with the
// caller: a click, the space bar or a screen reader's toggle writes the new
// value through the binding, and refresh() re-reads it after the caller
// changed it. It is a checkable button whose checked state is the bound
// value, so assistive technologies read it as a check box that is on or off.
class SwitchControl : public QAbstractButton {
    Q_OBJECT
public:
    explicit SwitchControl(Binding<bool> isOn, QWidget* parent = nullptr);

    bool isOn() const;
    // Re-reads the bound value and moves the knob to it.
    void refresh();

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;

private:
    Binding<bool> isOn_;
    bool shown_ = false;
    // The ring shows for focus moved by the keyboard only.
    bool keyboardFocus_ = false;
    QVariantAnimation* knob_;
};
