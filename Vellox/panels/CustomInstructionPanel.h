#pragma once

#include <QCoroTask>
#include <QSize>
#include <QString>

#include <optional>

class FloatingPanel;
class QKeyEvent;

// A small card under the selection that asks what the rewrite should do.
// Return hands back the typed instruction; Escape, a click elsewhere or
// leaving the application cancels. Main thread.
class CustomInstructionPanel {
public:
    static constexpr int minWidth = 280;
    static constexpr int maxWidth = 340;
    static constexpr int minHeight = 92;
    static constexpr int maxHeight = 420;
    static constexpr int fadeInMs = 180;
    static constexpr int fadeOutMs = 120;

    // The instruction, trimmed and never empty, or nothing when cancelled. A
    // second call while one waits first cancels the earlier one.
    static QCoro::Task<std::optional<QString>> prompt();

    // Ends the showing with this answer. Does nothing when no prompt is open.
    static void finish(std::optional<QString> text);

    static bool isShowing();
    static FloatingPanel* panel();
    static QSize panelSize(QSize fitting);
    static bool handleLocalKey(const QKeyEvent* event);

private:
    CustomInstructionPanel() = delete;
};
