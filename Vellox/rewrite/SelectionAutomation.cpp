#include "SelectionAutomation.h"

#include "Vellox/rewrite/EventLoopDelay.h"
#include "Vellox/rewrite/SelectionAutomationError.h"
#include "platform/AccessibilityTrust.h"
#include "platform/KeySynthesizer.h"
#include "platform/Pasteboard.h"
#include "platform/Platform.h"

#include <QCoroFuture>
#include <QDeadlineTimer>
#include <QtConcurrent>


namespace SelectionAutomation {

namespace {

using Chord = platform::KeySynthesizer::Chord;
using Kind = SelectionAutomationError::Kind;

constexpr int kFetchPollMs = 5;

Waits& waits()
{
    static Waits current;
    return current;
}

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

// Checks trust once more at the moment of posting.
void postChord(Chord chord)
{
    const platform::Platform& services = platform::Platform::current();
    if (!services.accessibilityTrust || !services.accessibilityTrust->isTrusted() || !services.keySynthesizer)
        throw SelectionAutomationError(Kind::accessibilityRequired);
    switch (services.keySynthesizer->post(chord)) {
    case platform::KeySynthesizer::Result::posted:
        return;
    case platform::KeySynthesizer::Result::unavailable:
        throw SelectionAutomationError(Kind::accessibilityRequired);
    case platform::KeySynthesizer::Result::eventCreationFailed:
        throw SelectionAutomationError(Kind::keyEventCreationFailed);
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

} // namespace

void setWaitsForTesting(const Waits& replacement)
{
    waits() = replacement;
}

QCoro::Task<QString> readSelection()
{
    co_await requireAccessibilityTrusted();
    platform::Pasteboard& board = pasteboard();
    const platform::Pasteboard::Contents saved = board.contents();
    const quint64 before = board.changeCount();
    try {
        postChord(Chord::copy);
    } catch (...) {
        restore(board, saved);
        throw;
    }
    co_await sleepMs(waits().copySettleMs);
    QDeadlineTimer cap(waits().copyCapMs - waits().copySettleMs);
    while (board.changeCount() == before && !cap.hasExpired())
        co_await sleepMs(kFetchPollMs);
    // The clipboard still is the user's own: nothing was copied, and its
    // text (perhaps a password) must not pass for the selection.
    QString selected;
    if (board.changeCount() != before)
        selected = board.text().value_or(QString());
    if (board.changeCount() != before)
        restore(board, saved);
    co_return selected;
}

QCoro::Task<void> replaceSelection(QString text)
{
    co_await requireAccessibilityTrusted();
    platform::Pasteboard& board = pasteboard();
    const platform::Pasteboard::Contents saved = board.contents();
    board.setText(text);
    try {
        co_await sleepMs(waits().beforePasteMs);
        postChord(Chord::paste);
    } catch (...) {
        restore(board, saved);
        throw;
    }
    // The target fetches the text after the chord reaches it; restoring
    // before that would paste the user's old clipboard instead.
    co_await sleepMs(waits().pasteSettleMs);
    QDeadlineTimer cap(waits().pasteFetchCapMs - waits().pasteSettleMs);
    while (!board.ourDataWasFetched() && !cap.hasExpired())
        co_await sleepMs(kFetchPollMs);
    restore(board, saved);
}

} // namespace SelectionAutomation
