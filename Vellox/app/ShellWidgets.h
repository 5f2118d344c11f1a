#pragma once

#include "Vellox/app/VelloxTokens.h"

#include <QLabel>
#include <QWidget>

// Small pieces the shell's windows share: token-styled text, a divider line
// and a filled dot.
namespace ShellWidgets {

// A label in a type style and colour token; wrapping labels take the height
// their text needs at the width they get.
QLabel* text(const QString& text, VelloxTokens::TypeStyle style, VelloxTokens::ColorToken color, bool wrap = false,
             QWidget* parent = nullptr);
// Gives a wrapping label a fixed width and the height its text needs there;
// call again after changing the text.
void fixWidth(QLabel* label, int width);
// Re-applies the colour token after an appearance change.
void setTextColor(QLabel* label, VelloxTokens::ColorToken color);

class Divider : public QWidget {
public:
    explicit Divider(QWidget* parent = nullptr);
    QSize sizeHint() const override { return {1, 1}; }

protected:
    void paintEvent(QPaintEvent* event) override;
};

class Dot : public QWidget {
public:
    Dot(VelloxTokens::ColorToken color, qreal diameter, QWidget* parent = nullptr);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    VelloxTokens::ColorToken color_;
    qreal diameter_;
};

} // namespace ShellWidgets
