#pragma once

#include <QCoroTask>
#include <QString>

// Copies the user's selection out of the front application and pastes new
// text over it, through the clipboard and synthesised copy and paste chords.
// The user's clipboard, every format of it, is put back around each chord.
// Main thread only; the rewrite gate keeps two calls from overlapping.
namespace SelectionAutomation {

// Waits after the copy chord before reading, and after the paste chord
// before the clipboard may be restored.
inline constexpr int kCopySettleMs = 80;
inline constexpr int kPasteSettleMs = 40;
// How long the restore waits at most for the target to fetch the new text.
inline constexpr int kPasteFetchCapMs = 1000;
// How long the read waits at most for the copy to reach the clipboard: on X11
// the new owner's announcement arrives asynchronously, later under load.
inline constexpr int kCopyCapMs = 400;
// Between writing the new text and the paste chord (half a millisecond,
// rounded up to the timer's resolution).
inline constexpr int kBeforePasteMs = 1;

struct Waits {
    int copySettleMs = kCopySettleMs;
    int copyCapMs = kCopyCapMs;
    int beforePasteMs = kBeforePasteMs;
    int pasteSettleMs = kPasteSettleMs;
    int pasteFetchCapMs = kPasteFetchCapMs;
};
// Replaces the waits, so a benchmark measures the work around them.
void setWaitsForTesting(const Waits& waits);

// The selected text, untrimmed; empty when the copy chord did not change the
// clipboard (nothing selected), so an earlier clipboard text is never taken
// for a selection. Throws SelectionAutomationError.
QCoro::Task<QString> readSelection();

// Throws SelectionAutomationError; the user's clipboard is back either way.
QCoro::Task<void> replaceSelection(QString text);

} // namespace SelectionAutomation
