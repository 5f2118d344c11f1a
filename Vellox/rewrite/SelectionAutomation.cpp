#include "SelectionAutomation.h"

#include "Vellox/rewrite/EventLoopDelay.h"
#include "Vellox/rewrite/SelectionAutomationError.h"
#include "platform/AccessibilityTrust.h"
#include "platform/KeySynthesizer.h"
#include "platform/Pasteboard.h"
#include "platform/Platform.h"
#include "platform/Workspace.h"

#include <QCoreApplication>
#include <QCoroFuture>
#include <QDeadlineTimer>
#include <QTimer>
#include <QtConcurrent>


namespace SelectionAutomation {

namespace {

using Chord = platform::KeySynthesizer::Chord;
using Kind = SelectionAutomationError::Kind;

constexpr int kFetchPollMs = 5;
constexpr int kLateCopyPollMs = 20;
// How long a panel of ours may keep the focus after it closed.
constexpr int kFocusHandBackCapMs = 1500;
constexpr int kFocusPollMs = 10;

Waits& waits()
{
    static Waits current;
    return current;
}

// Every call counts itself here, so a watch left by an earlier one can tell
// it is out of date.
quint64 calls = 0;

QCoro::Task<void> requireAccessibilityTrusted()
{
    std::shared_ptr<platform::AccessibilityTrust> trust = platform::Platform::current().accessibilityTrust;
    bool trusted = false;
    if (trust) {
        QFuture<bool> answer = QtConcurrent::run([trust] { return trust->isTrusted(); });
        trusted = co_await answer;
    }
    if (!trusted)
        throw SelectionAutomationError(Kind::accessibilityRequired);
}

// Checks trust once more at the moment of posting. False when the focused
// window has no chord we know and nothing was typed.
bool postChord(Chord chord)
{
    const platform::Platform& services = platform::Platform::current();
    if (!services.accessibilityTrust || !services.accessibilityTrust->isTrusted() || !services.keySynthesizer)
        throw SelectionAutomationError(Kind::accessibilityRequired);
    switch (services.keySynthesizer->post(chord)) {
    case platform::KeySynthesizer::Result::posted:
        return true;
    case platform::KeySynthesizer::Result::noKnownChord:
        return false;
    case platform::KeySynthesizer::Result::unavailable:
        throw SelectionAutomationError(Kind::accessibilityRequired);
    case platform::KeySynthesizer::Result::eventCreationFailed:
        throw SelectionAutomationError(Kind::keyEventCreationFailed);
    }
    return false;
}

std::optional<platform::Workspace::FrontApplication> frontApplication()
{
    const auto& workspace = platform::Platform::current().workspace;
    return workspace ? workspace->frontmostApplication() : std::nullopt;
}

quint64 focusedWindow()
{
    const auto front = frontApplication();
    return front ? front->window : 0;
}

// The focus as it is once our own panels, which hand it back to the window
// they took it from as they close, have let go of it.
QCoro::Task<quint64> focusedWindowAfterOurPanels()
{
    QDeadlineTimer deadline(kFocusHandBackCapMs);
    for (;;) {
        const auto front = frontApplication();
        if (!front || front->pid != QCoreApplication::applicationPid() || deadline.hasExpired())
            co_return front ? front->window : 0;
        co_await EventLoopDelay{kFocusPollMs};
    }
}

platform::Pasteboard& pasteboard()
{
    const auto& board = platform::Platform::current().pasteboard;
    if (!board)
        throw SelectionAutomationError(Kind::keyEventCreationFailed);
    return *board;
}

void restore(platform::Pasteboard& board, const platform::Pasteboard::Contents& saved)
{
    if (saved.isEmpty())
        board.clear();
    else
        board.setContents(saved);
}

EventLoopDelay sleepMs(int milliseconds)
{
    return EventLoopDelay{milliseconds};
}

// A copy that lands after the read gave up has replaced the user's clipboard
// with the selection: put the user's back then. Any later call ends the watch,
// since it saves and restores the clipboard itself.
void watchForLateCopy(quint64 window, platform::Pasteboard::Ownership before, platform::Pasteboard::Contents saved)
{
    std::shared_ptr<platform::Pasteboard> board = platform::Platform::current().pasteboard;
    if (!board || waits().lateCopyWatchMs <= 0)
        return;
    auto* timer = new QTimer(QCoreApplication::instance());
    const quint64 call = calls;
    const QDeadlineTimer deadline(waits().lateCopyWatchMs);
    QObject::connect(timer, &QTimer::timeout, timer, [=] {
        if (call != calls || deadline.hasExpired()) {
            timer->deleteLater();
        } else if (board->lastTakenBy(window) != before) {
            restore(*board, saved);
            timer->deleteLater();
        }
    });
    timer->start(kLateCopyPollMs);
}

} // namespace

void setWaitsForTesting(const Waits& replacement)
{
    waits() = replacement;
}

QCoro::Task<Selection> readSelection()
{
    co_await requireAccessibilityTrusted();
    platform::Pasteboard& board = pasteboard();
    ++calls;
    const quint64 window = focusedWindow();
    const platform::Pasteboard::Contents saved = board.contents();
    // The copy is the target's own taking of the clipboard after the chord:
    // our restores and clears, and a clipboard manager taking it back, are
    // other clients or no owner at all.
    const platform::Pasteboard::Ownership before = board.lastTakenBy(window);
    bool typed = false;
    try {
        typed = postChord(Chord::copy);
    } catch (...) {
        restore(board, saved);
        throw;
    }
    if (!typed)
        co_return Selection{board.primaryTextOf(window).value_or(QString()), window};
    co_await sleepMs(waits().copySettleMs);
    QDeadlineTimer cap(waits().copyCapMs - waits().copySettleMs);
    const auto copied = [&] { return board.lastTakenBy(window) != before; };
    while (!copied() && !cap.hasExpired())
        co_await sleepMs(kFetchPollMs);
    // The clipboard still is the user's own: nothing was copied, and its
    // text (perhaps a password) must not pass for the selection.
    if (!copied()) {
        watchForLateCopy(window, before, saved);
        co_return Selection{QString(), window};
    }
    const QString selected = board.text().value_or(QString());
    restore(board, saved);
    co_return Selection{selected, window};
}

QCoro::Task<void> replaceSelection(QString text, quint64 window)
{
    co_await requireAccessibilityTrusted();
    platform::Pasteboard& board = pasteboard();
    ++calls;
    // In a terminal, text pasted into the wrong window can run as commands.
    const quint64 target = co_await focusedWindowAfterOurPanels();
    if (window != 0 && target != window)
        throw SelectionAutomationError(Kind::focusChanged);
    const platform::Pasteboard::Contents saved = board.contents();
    board.setText(text);
    try {
        co_await sleepMs(waits().beforePasteMs);
        // The chord pastes whatever the clipboard holds by then.
        if (!board.ownedByUs())
            throw SelectionAutomationError(Kind::clipboardNotOwned);
        // From here a request for the text may be the target's answer to the
        // chord; earlier ones answer the change of owner.
        board.notePasteChord();
        if (!postChord(Chord::paste))
            throw SelectionAutomationError(Kind::noPasteChord);
    } catch (...) {
        restore(board, saved);
        throw;
    }
    // The target asks for the text once it handles the chord; restoring
    // before it was sent the text would paste the user's old clipboard
    // instead. A clipboard manager asks for every new owner's data at once,
    // and a toolkit may first ask for formats of its own that we lack, so only
    // the target's own request for our text counts.
    co_await sleepMs(waits().pasteSettleMs);
    QDeadlineTimer cap(waits().pasteFetchCapMs - waits().pasteSettleMs);
    while (!board.fetchedByClientOf(target) && !cap.hasExpired())
        co_await sleepMs(kFetchPollMs);
    if (!board.fetchedByClientOf(target))
        throw SelectionAutomationError(Kind::pasteNotFetched);
    restore(board, saved);
}

} // namespace SelectionAutomation
