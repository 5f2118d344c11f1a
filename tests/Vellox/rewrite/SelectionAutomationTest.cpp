#include "RewriteTestSupport.h"

#include "Vellox/rewrite/SelectionAutomation.h"
#include "Vellox/rewrite/SelectionAutomationError.h"

#include <QElapsedTimer>
#include <QTimer>

#include <gtest/gtest.h>

using Chord = platform::KeySynthesizer::Chord;
using Contents = platform::Pasteboard::Contents;
using Kind = SelectionAutomationError::Kind;
using platform::fake::FakePasteboard;
using rewrite_test::run;

namespace {

const Contents kImageAndText{{{QStringLiteral("image/png"), QByteArray("\x89PNG....", 8)},
                              {QStringLiteral("text/plain;charset=utf-8"), "A"}}};

class SelectionAutomationTest : public ::testing::Test {
protected:
    SelectionAutomationTest() { fakes.pasteboard().putFromOtherClient(kImageAndText, kUserAppWindow); }
    ~SelectionAutomationTest() override { SelectionAutomation::setWaitsForTesting({}); }

    // The application the user copied their clipboard from.
    static constexpr quint64 kUserAppWindow = 0x800002;

    platform::PlatformGuard guard;
    rewrite_test::Fakes fakes;
};

} // namespace

TEST_F(SelectionAutomationTest, ReadingReturnsTheCopiedTextAndPutsTheClipboardBack)
{
    fakes.keys().onPost = [&](Chord) { fakes.pasteboard().putTextFromOtherClient(QStringLiteral(" B \n")); };
    QElapsedTimer elapsed;
    elapsed.start();
    const auto read = run(SelectionAutomation::readSelection());
    ASSERT_TRUE(read.value);
    EXPECT_EQ(read.value->text, QStringLiteral(" B \n"));
    EXPECT_EQ(read.value->window, FakePasteboard::kFrontWindow);
    EXPECT_GE(elapsed.elapsed(), SelectionAutomation::kCopySettleMs - 5);
    EXPECT_EQ(fakes.keys().posted, QList<Chord>{Chord::copy});
    EXPECT_EQ(fakes.pasteboard().contents(), kImageAndText);
}

TEST_F(SelectionAutomationTest, OnlyTheFocusedApplicationsOwnTakingIsACopy)
{
    // What else can take the clipboard while the read waits: a clipboard
    // manager putting back its copy, or the user's application again.
    struct Case {
        const char* name;
        std::optional<quint64> takenBy;
    };
    const Case cases[] = {
        {"nobody", std::nullopt},
        {"a clipboard manager", FakePasteboard::kManagerWindow},
        {"the application the clipboard came from", kUserAppWindow},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fakes.keys().onPost = [&](Chord) {
            if (c.takenBy)
                fakes.pasteboard().putTextFromOtherClient(QStringLiteral("hunter2"), *c.takenBy);
        };
        const int writes = int(fakes.pasteboard().writes.size());
        const auto read = run(SelectionAutomation::readSelection());
        ASSERT_TRUE(read.value);
        EXPECT_EQ(read.value->text, QString());
        EXPECT_EQ(fakes.pasteboard().writes.size(), writes);
    }
}

TEST_F(SelectionAutomationTest, ACopyThatLandsAfterTheCapGivesTheUserTheirClipboardBack)
{
    SelectionAutomation::setWaitsForTesting({.copySettleMs = 10, .copyCapMs = 60, .lateCopyWatchMs = 5000});
    bool landed = false;
    fakes.keys().onPost = [&](Chord) {
        QTimer::singleShot(300, [&] {
            fakes.pasteboard().putTextFromOtherClient(QStringLiteral("selected"));
            landed = true;
        });
    };
    const auto read = run(SelectionAutomation::readSelection());
    ASSERT_TRUE(read.value);
    EXPECT_EQ(read.value->text, QString());
    EXPECT_TRUE(rewrite_test::spinUntil([&] { return landed && fakes.pasteboard().contents() == kImageAndText; }, 20000));
}

TEST_F(SelectionAutomationTest, ATerminalWithoutAKnownChordIsReadFromThePrimarySelection)
{
    fakes.keys().copyResult = fakes.keys().pasteResult = platform::KeySynthesizer::Result::noKnownChord;
    fakes.pasteboard().primary = QStringLiteral("ls -l");
    const auto read = run(SelectionAutomation::readSelection());
    ASSERT_TRUE(read.value);
    EXPECT_EQ(read.value->text, QStringLiteral("ls -l"));
    EXPECT_TRUE(fakes.pasteboard().writes.isEmpty());

    // Another client's primary selection is not the terminal's.
    fakes.pasteboard().primaryOwner = FakePasteboard::kManagerWindow;
    EXPECT_EQ(run(SelectionAutomation::readSelection()).value->text, QString());
}

TEST_F(SelectionAutomationTest, FailuresLeaveTheClipboardAsItWas)
{
    struct Case {
        const char* name;
        std::function<void(rewrite_test::Fakes&)> arrange;
        Kind kind;
    };
    const Case cases[] = {
        {"no trust", [](rewrite_test::Fakes& f) { f.trust().trusted = false; }, Kind::accessibilityRequired},
        {"synthesis unavailable at posting", [](rewrite_test::Fakes& f) { f.keys().copyResult = platform::KeySynthesizer::Result::unavailable; },
         Kind::accessibilityRequired},
        {"event not created", [](rewrite_test::Fakes& f) { f.keys().pasteResult = f.keys().copyResult = platform::KeySynthesizer::Result::eventCreationFailed; },
         Kind::keyEventCreationFailed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        platform::PlatformGuard local;
        rewrite_test::Fakes f;
        f.pasteboard().putFromOtherClient(kImageAndText);
        c.arrange(f);
        const auto read = run(SelectionAutomation::readSelection());
        ASSERT_TRUE(read.errorAs<SelectionAutomationError>());
        EXPECT_EQ(read.errorAs<SelectionAutomationError>()->kind(), c.kind);
        EXPECT_EQ(f.pasteboard().contents(), kImageAndText);
        if (c.kind == Kind::keyEventCreationFailed) {
            const auto paste = run(SelectionAutomation::replaceSelection(QStringLiteral("new"), FakePasteboard::kFrontWindow));
            EXPECT_TRUE(paste.errorAs<SelectionAutomationError>());
            EXPECT_EQ(f.pasteboard().contents(), kImageAndText);
        }
    }
}

TEST_F(SelectionAutomationTest, NothingIsPastedWhereTheUserDidNotAsk)
{
    struct Case {
        const char* name;
        std::function<void(rewrite_test::Fakes&)> arrange;
        Kind kind;
    };
    const Case cases[] = {
        {"another window has the focus", [](rewrite_test::Fakes& f) { f.workspace().front->window = 0xa00007; },
         Kind::focusChanged},
        {"no window has the focus", [](rewrite_test::Fakes& f) { f.workspace().front.reset(); }, Kind::focusChanged},
        {"another client took the clipboard before the chord", [](rewrite_test::Fakes& f) { f.pasteboard().stolenBeforePaste = true; },
         Kind::clipboardNotOwned},
        {"a terminal without a known paste chord", [](rewrite_test::Fakes& f) { f.keys().pasteResult = platform::KeySynthesizer::Result::noKnownChord; },
         Kind::noPasteChord},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        platform::PlatformGuard local;
        rewrite_test::Fakes f;
        f.pasteboard().putFromOtherClient(kImageAndText);
        QStringList pasted;
        f.keys().onPost = [&](Chord) { pasted.append(f.pasteboard().text().value_or(QString())); };
        c.arrange(f);
        const auto paste = run(SelectionAutomation::replaceSelection(QStringLiteral("new"), FakePasteboard::kFrontWindow));
        ASSERT_TRUE(paste.errorAs<SelectionAutomationError>());
        EXPECT_EQ(paste.errorAs<SelectionAutomationError>()->kind(), c.kind);
        EXPECT_TRUE(pasted.isEmpty());
        EXPECT_EQ(f.pasteboard().contents(), kImageAndText);
    }
}

TEST_F(SelectionAutomationTest, TheClipboardComesBackOnlyAfterThePasteTargetAskedForTheText)
{
    // A clipboard manager asks for the new text at once; the slow target
    // asks 150 ms after the chord. Restoring on the manager's request would
    // paste the user's old clipboard.
    std::optional<QString> fetched;
    fakes.pasteboard().everyoneFetches = false;
    fakes.keys().onPost = [&](Chord chord) {
        ASSERT_EQ(chord, Chord::paste);
        // Requests from here on may answer the chord.
        EXPECT_EQ(fakes.pasteboard().pasteChordsNoted, 1);
        fakes.pasteboard().requesters.append(FakePasteboard::kManagerWindow);
        QTimer::singleShot(150, [&] {
            fetched = fakes.pasteboard().text();
            fakes.pasteboard().requesters.append(FakePasteboard::kFrontWindow + 5);
        });
    };
    ASSERT_TRUE(run(SelectionAutomation::replaceSelection(QStringLiteral("  new text\n"), FakePasteboard::kFrontWindow)).value);
    EXPECT_EQ(fetched, QStringLiteral("  new text\n"));
    EXPECT_EQ(fakes.pasteboard().contents(), kImageAndText);
}

TEST_F(SelectionAutomationTest, RestoringWaitsAtLeastTheSettleTimeAndAtMostTheCap)
{
    // Unasked for within the cap, the paste may still come: the new text
    // stays on the clipboard and the paste counts as failed.
    constexpr int kCapMs = 600;
    SelectionAutomation::setWaitsForTesting({.pasteFetchCapMs = kCapMs});
    struct Case {
        const char* name;
        bool fetched;
        qint64 atLeast;
        qint64 below;
    };
    const Case cases[] = {
        {"fetched at once", true, SelectionAutomation::kPasteSettleMs - 5, kCapMs - 100},
        {"never fetched", false, kCapMs - 20, kCapMs + 2000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fakes.pasteboard().everyoneFetches = false;
        fakes.keys().onPost = [&](Chord) {
            if (c.fetched)
                fakes.pasteboard().requesters.append(FakePasteboard::kFrontWindow);
        };
        QElapsedTimer elapsed;
        elapsed.start();
        const auto paste = run(SelectionAutomation::replaceSelection(QStringLiteral("x"), FakePasteboard::kFrontWindow));
        EXPECT_GE(elapsed.elapsed(), c.atLeast);
        EXPECT_LT(elapsed.elapsed(), c.below);
        if (c.fetched) {
            EXPECT_TRUE(paste.value);
            EXPECT_EQ(fakes.pasteboard().contents(), kImageAndText);
        } else {
            ASSERT_TRUE(paste.errorAs<SelectionAutomationError>());
            EXPECT_EQ(paste.errorAs<SelectionAutomationError>()->kind(), Kind::pasteNotFetched);
            EXPECT_EQ(fakes.pasteboard().text(), QStringLiteral("x"));
        }
    }
}
