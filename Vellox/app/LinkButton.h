#pragma once

#include "Vellox/app/VelloxTokens.h"

#include <QAbstractButton>

#include <functional>
#include <optional>

// A text-only button in the accent colour, with an optional trailing symbol.
// No background and no underline.
class LinkButton : public QAbstractButton {
    Q_OBJECT
public:
    LinkButton(QString title, std::optional<QString> systemImage, std::function<void()> action,
               QWidget* parent = nullptr);

    QString title() const { return text(); }
    void setTitle(const QString& title);
    const std::optional<QString>& systemImage() const { return systemImage_; }
    // A plain-style text button (a "Dismiss") uses the same control with
    // another colour.
    void setColor(VelloxTokens::ColorToken color);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::optional<QString> systemImage_;
    std::function<void()> action_;
    VelloxTokens::ColorToken color_ = VelloxTokens::Colors::accent;
};
