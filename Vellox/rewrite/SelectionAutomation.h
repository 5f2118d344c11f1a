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
// How long the paste target has to ask for the new text. It asks once it
// handles the chord, which a busy application or machine can put off by
// seconds; past this the text stays on the clipboard for the user to paste.
inline constexpr int kPasteFetchCapMs = 4000;
// How long the read waits at most for the copy to reach the clipboard: on X11
// the new owner's announcement arrives asynchronously, later under load.
inline constexpr int kCopyCapMs = 400;
// After a read that found no copy, how long a copy that still lands is
// watched for, so the user's clipboard can be put back over it. Kept short:
// a copy the user makes by hand in that application afterwards looks the same.
inline constexpr int kLateCopyWatchMs = 5000;
// Between writing the new text and the paste chord (half a millisecond,
// rounded up to the timer's resolution).
inline constexpr int kBeforePasteMs = 1;

struct Waits {
    int copySettleMs = kCopySettleMs;
    int copyCapMs = kCopyCapMs;
    int lateCopyWatchMs = kLateCopyWatchMs;
    int beforePasteMs = kBeforePasteMs;
    int pasteSettleMs = kPasteSettleMs;
    int pasteFetchCapMs = kPasteFetchCapMs;
};
// Replaces the waits, so a benchmark measures the work around them.
void setWaitsForTesting(const Waits& waits);

struct Selection {
    // Untrimmed; empty when nothing was copied (nothing selected), so an
    // earlier clipboard text is never taken for a selection.
    QString text;
    // The window that had the focus at the copy; 0 when none could be named.
    quint64 window = 0;
};

// Throws SelectionAutomationError. In a terminal without a known copy chord
// nothing is typed and the text comes from the primary selection.
QCoro::Task<Selection> readSelection();

// Pastes into `window`, the window the selection was copied from; nothing is
// pasted when another window has the focus by now. The user's clipboard is
// put back once that window's application has asked for the new text.
// Throws SelectionAutomationError; when the paste may not have happened, the
// error says why and the clipboard holds the user's earlier contents or,
// when the target did not ask for the text in time, the text itself.
QCoro::Task<void> replaceSelection(QString text, quint64 window);

} // namespace SelectionAutomation
