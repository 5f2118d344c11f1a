#pragma once

#include "Vellox/panels/PanelCard.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QRectF>
#include <QWidget>

#include <functional>

class QPropertyAnimation;

// The window of one floating panel: frameless, kept above other windows, out
// of the task bar and the window cycle, with a transparent background on
// which the card with its own shadow is drawn around the content.
class FloatingPanel : public QWidget {
    Q_OBJECT
    Q_PROPERTY(double opacity READ opacity WRITE setOpacity)
public:
    enum class Kind {
        // Takes the keyboard: the tone picker and the instruction panel.
        keyable,
        // Never takes the keyboard: the notice.
        nonActivating,
        // Never takes the keyboard and lets clicks through: the busy chip.
        clickThrough,
    };

    FloatingPanel(Kind kind, const PanelCard::Style& style, QWidget* content);

    Kind kind() const { return kind_; }
    QWidget* content() const { return content_; }

    // Places the card (the content's area) at this frame on the desktop; the
    // window is larger by the room the shadow needs.
    void setCardFrame(const QRectF& frame);
    QRectF cardFrame() const { return cardFrame_; }
    // The whole window on the desktop, shadow included, as placed. Qt's own
    // idea of a window's geometry can lag behind the window manager's
    // configure events; this is what clicks are judged against.
    QRectF desktopFrame() const { return cardFrame_.marginsAdded(QMarginsF(margins())); }

    // Shows the panel at this opacity without activating the application.
    void orderFront(double opacity);
    void fadeTo(double opacity, int durationMs, std::function<void()> done = {});
    // Hides at once, cancelling any fade.
    void orderOut();

    // The panel's opacity. Platforms without window opacity (offscreen)
    // keep the value without applying it.
    double opacity() const { return opacity_; }
    void setOpacity(double opacity);

    // False on a desktop that cannot blend translucent windows: the card is
    // then drawn opaque, without its shadow, and the window cut to its shape.
    bool isComposited() const { return composited_; }

    // Whether the panel has held the keyboard since it was shown, and for
    // how long since it first did.
    bool hasHadFocus() const { return hasHadFocus_; }
    qint64 msSinceFirstFocus() const { return hasHadFocus_ ? firstFocusedAt_.elapsed() : -1; }

signals:
    void firstFocused();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool event(QEvent* event) override;

private:
    QMargins margins() const;

    Kind kind_;
    PanelCard::Style style_;
    QWidget* content_;
    QRectF cardFrame_;
    QPointer<QPropertyAnimation> fade_;
    bool hasHadFocus_ = false;
    QElapsedTimer firstFocusedAt_;
    double opacity_ = 1;
    bool composited_ = true;
};
