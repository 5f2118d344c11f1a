#pragma once

#include "Vellox/rewrite/RewriteFeedbackMessage.h"

#include <QRectF>
#include <QSizeF>

#include <optional>

class FloatingPanel;

// A short notice at the top right of the main screen: one message for a few
// seconds, with a button for its action. A new notice replaces the one on
// screen at once. It never takes the keyboard and does not report to the
// window coordinator. Main thread.
class FeedbackHUD {
public:
    static constexpr int fadeMs = 180;
    static constexpr double rightInset = 12;
    static constexpr double topInset = 8;
    // Durations beyond this are held to it; a notice is never meant to stay.
    static constexpr double longestDurationSeconds = 3600;

    static void present(const RewriteFeedbackMessage& message, double dismissAfterSeconds);
    // Fades the notice out; what the dismiss timer calls.
    static void hide();

    // The frame of a notice of this size, or none without a screen.
    static std::optional<QRectF> anchoredFrame(QSizeF size);
    // The time a notice stays, in milliseconds: negative and NaN durations
    // count as none, infinite and huge ones as the longest.
    static int dismissDelayMs(double seconds);

    static FloatingPanel* panel();

private:
    FeedbackHUD() = delete;
};
