#include "RewriteTestSupport.h"

#include "Vellox/rewrite/SelectionAutomation.h"
#include "Vellox/rewrite/SelectionAutomationError.h"

#include <QElapsedTimer>
#include <QTimer>

#include <gtest/gtest.h>

using Chord = platform::KeySynthesizer::Chord;
using Contents = platform::Pasteboard::Contents;
using rewrite_test::run;

namespace {

const Contents kImageAndText{{{QStringLiteral("image/png"), QByteArray("\x89PNG....", 8)},
                              {QStringLiteral("text/plain;charset=utf-8"), "A"}}};

class SelectionAutomationTest : public ::testing::Test {
protected:
    SelectionAutomationTest() { fakes.pasteboard().putFromOtherClient(kImageAndText); }

    platform::PlatformGuard guard;
    rewrite_test::Fakes fakes;
};

} // namespace

TEST_F(SelectionAutomationTest, ReadingReturnsTheCopiedTextAndPutsTheClipboardBack)
{
    fakes.keys().onPost = [&](Chord) { fakes.pasteboard().putTextFromOtherClient(QStringLiteral(" B \n")); };
    QElapsedTimer elapsed;
    elapsed.start();
    EXPECT_EQ(run(SelectionAutomation::readSelection()).value, QStringLiteral(" B \n"));
    EXPECT_GE(elapsed.elapsed(), SelectionAutomation::kCopySettleMs - 5);
    EXPECT_EQ(fakes.keys().posted, QList<Chord>{Chord::copy});
    EXPECT_EQ(fakes.pasteboard().contents(), kImageAndText);
}

TEST_F(SelectionAutomationTest, AnUnchangedClipboardMeansNothingWasSelected)
{
    const auto outcome = run(SelectionAutomation::readSelection());
    EXPECT_EQ(outcome.value, QString());
    EXPECT_TRUE(fakes.pasteboard().writes.isEmpty());
}

TEST_F(SelectionAutomationTest, FailuresLeaveTheClipboardAsItWas)
{
    struct Case {
        const char* name;
        std::function<void(rewrite_test::Fakes&)> arrange;
        SelectionAutomationError::Kind kind;
    };
    const Case cases[] = {
        {"no trust", [](rewrite_test::Fakes& f) { f.trust().trusted = false; },
         SelectionAutomationError::Kind::accessibilityRequired},
        {"synthesis unavailable at posting", [](rewrite_test::Fakes& f) { f.keys().copyResult = platform::KeySynthesizer::Result::unavailable; },
         SelectionAutomationError::Kind::accessibilityRequired},
        {"event not created", [](rewrite_test::Fakes& f) { f.keys().pasteResult = f.keys().copyResult = platform::KeySynthesizer::Result::eventCreationFailed; },
         SelectionAutomationError::Kind::keyEventCreationFailed},
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
        if (c.kind == SelectionAutomationError::Kind::keyEventCreationFailed) {
            const auto paste = run(SelectionAutomation::replaceSelection(QStringLiteral("new")));
            EXPECT_TRUE(paste.errorAs<SelectionAutomationError>());
            EXPECT_EQ(f.pasteboard().contents(), kImageAndText);
        }
    }
}

TEST_F(SelectionAutomationTest, ThePasteTargetGetsTheNewTextBeforeTheClipboardIsRestored)
{
    // A slow target fetches the clipboard 150 ms after the chord: the restore
    // must wait for it rather than win the race after 40 ms.
    std::optional<QString> fetched;
    fakes.pasteboard().fetched = false;
    fakes.keys().onPost = [&](Chord chord) {
        ASSERT_EQ(chord, Chord::paste);
        fakes.pasteboard().fetched = false;
        QTimer::singleShot(150, [&] {
            fetched = fakes.pasteboard().text();
            fakes.pasteboard().fetched = true;
        });
    };
    ASSERT_TRUE(run(SelectionAutomation::replaceSelection(QStringLiteral("  new text\n"))).value);
    EXPECT_EQ(fetched, QStringLiteral("  new text\n"));
    EXPECT_EQ(fakes.pasteboard().contents(), kImageAndText);
}

TEST_F(SelectionAutomationTest, RestoringWaitsAtLeastTheSettleTimeAndAtMostTheCap)
{
    struct Case {
        const char* name;
        bool fetched;
        qint64 atLeast;
        qint64 below;
    };
    const Case cases[] = {
        {"fetched at once", true, SelectionAutomation::kPasteSettleMs - 5, SelectionAutomation::kPasteFetchCapMs - 100},
        {"never fetched", false, SelectionAutomation::kPasteFetchCapMs - 20, SelectionAutomation::kPasteFetchCapMs + 2000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fakes.keys().onPost = [&](Chord) { fakes.pasteboard().fetched = c.fetched; };
        QElapsedTimer elapsed;
        elapsed.start();
        ASSERT_TRUE(run(SelectionAutomation::replaceSelection(QStringLiteral("x"))).value);
        EXPECT_GE(elapsed.elapsed(), c.atLeast);
        EXPECT_LT(elapsed.elapsed(), c.below);
        EXPECT_EQ(fakes.pasteboard().contents(), kImageAndText);
    }
}
