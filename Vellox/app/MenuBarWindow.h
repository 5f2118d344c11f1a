#pragma once

#include <QRect>
#include <QWidget>

#include <functional>

class MenuBarContentView;

// The tray popover: a frameless popup of fixed width next to the tray icon,
// closed by a click outside or Escape.
class MenuBarWindow : public QWidget {
    Q_OBJECT
public:
    MenuBarWindow(std::function<void()> openSettings, std::function<void()> terminate, QWidget* parent = nullptr);

    MenuBarContentView* content() const { return content_; }

    // Shows the popover next to `anchor` (the tray icon's screen rectangle,
    // or the pointer when the tray does not tell).
    void popUp(const QRect& anchor);
    // Where the popover goes for an anchor on a screen with `available` free area.
    static QPoint placement(const QRect& anchor, const QSize& size, const QRect& available);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void updateTitle();

    MenuBarContentView* content_;
};
