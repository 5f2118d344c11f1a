#pragma once

#include "Vellox/panels/TonePickerChoice.h"

#include <QCoroTask>
#include <QList>
#include <QSize>

#include <optional>

class FloatingPanel;
class QKeyEvent;

// The keyboard-driven list of tones that floats under the selection while
// the rewrite road waits for a choice. The question is one asynchronous call;
// the panel, its key filter, its mouse monitor and its focus observers exist
// only while it shows, and at most one picker shows at a time. Main thread.
class TonePickerPanel {
public:
    static constexpr int minWidth = 260;
    static constexpr int minHeight = 140;
    static constexpr int maxHeight = 460;
    static constexpr int fadeInMs = 180;

    // Shows the picker under the selection and waits. No answer means
    // cancelled. A second call while one waits first cancels the earlier one.
    static QCoro::Task<std::optional<TonePickerChoice>> askUser(QList<TonePreset> presets, bool includeDescribeEdit);

    // Ends the showing with this answer. Does nothing when the picker is idle.
    static void finish(std::optional<TonePickerChoice> choice);

    static bool isShowing();
    // The panel on screen, if any.
    static FloatingPanel* panel();

    // The panel's size for the content's fitting size: at least 260 wide,
    // 140 to 460 high.
    static QSize panelSize(QSize fitting);

    // The key filter: answers true when the key was consumed.
    static bool handleLocalKey(const QKeyEvent* event);

private:
    TonePickerPanel() = delete;
};
