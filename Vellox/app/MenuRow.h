#pragma once

#include "Vellox/app/MenuRowBody.h"

#include <QAbstractButton>

#include <functional>

class QVariantAnimation;

// A clickable menu row. The whole rectangle is the hit area; hovering fades
// in the soft accent background.
class MenuRow : public QAbstractButton {
    Q_OBJECT
public:
    MenuRow(MenuRowBody::Content content, std::function<void()> action, QWidget* parent = nullptr);

    const MenuRowBody::Content& content() const { return content_; }
    void setContent(const MenuRowBody::Content& content);
    bool isHovered() const { return hover_; }
    qreal hoverOpacity() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void setHover(bool hover);

    MenuRowBody::Content content_;
    std::function<void()> action_;
    bool hover_ = false;
    bool keyboardFocus_ = false;
    QVariantAnimation* fade_;
};
