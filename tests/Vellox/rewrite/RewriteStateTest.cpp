#include "RewriteTestSupport.h"

#include "Vellox/rewrite/AppReadinessState.h"
#include "Vellox/rewrite/RewriteChromeState.h"
#include "Vellox/rewrite/RewriteFeedbackState.h"

#include <QElapsedTimer>
#include <QSignalSpy>

#include <gtest/gtest.h>

using Action = RewriteFeedbackAction;
using Level = RewriteFeedbackMessage::Level;

TEST(RewriteFeedbackMessageTest, ActionTakesPartInEquality)
{
    const RewriteFeedbackMessage plain{QStringLiteral("x"), Level::error, std::nullopt};
    const RewriteFeedbackMessage withAction{QStringLiteral("x"), Level::error, Action::openSettings};
    EXPECT_NE(plain, withAction);
    EXPECT_NE(withAction, (RewriteFeedbackMessage{QStringLiteral("x"), Level::error, Action::retryPermissionCheck}));
    EXPECT_EQ(plain, (RewriteFeedbackMessage{QStringLiteral("x"), Level::error, std::nullopt}));
}

TEST(RewriteSharedStateTest, EveryAssignmentIsAnnouncedEvenWhenEqual)
{
    auto& chrome = RewriteChromeState::shared();
    auto& feedback = RewriteFeedbackState::shared();
    QSignalSpy phases(&chrome, &RewriteChromeState::phaseChanged);
    QSignalSpy errors(&feedback, &RewriteFeedbackState::lastErrorChanged);

    chrome.setPhase(RewriteChromeState::Phase::idle);
    chrome.setPhase(RewriteChromeState::Phase::idle);
    feedback.setLastError(std::nullopt);
    feedback.setLastError(std::nullopt);

    EXPECT_EQ(phases.count(), 2);
    EXPECT_EQ(errors.count(), 2);
    const RewriteFeedbackMessage message{QStringLiteral("boom"), Level::error, Action::openSettings};
    feedback.setLastError(message);
    EXPECT_EQ(feedback.lastError(), message);
    feedback.setLastError(std::nullopt);
}

class AppReadinessStateTest : public ::testing::Test {
protected:
    platform::PlatformGuard guard;
    rewrite_test::Fakes fakes;
    AppReadinessState& state = AppReadinessState::shared();

    ~AppReadinessStateTest() override
    {
        // No watch may outlive the fakes it queries.
        state.startPolling(0, 0);
        rewrite_test::spinUntil([&] { return !state.isPolling(); });
    }
};

TEST_F(AppReadinessStateTest, RefreshStoresEachAnswerAndCanGoBackToDenied)
{
    QSignalSpy changes(&state, &AppReadinessState::permissionStatusChanged);
    fakes.trust().trusted = true;
    QCoro::waitFor(state.refreshPermissionStatusAsync());
    EXPECT_EQ(state.permissionStatus(), AccessibilityPermissionStatus::granted);
    fakes.trust().trusted = false;
    QCoro::waitFor(state.refreshPermissionStatusAsync());
    EXPECT_EQ(state.permissionStatus(), AccessibilityPermissionStatus::denied);
    QCoro::waitFor(state.refreshPermissionStatusAsync());
    EXPECT_EQ(changes.count(), 3);
    EXPECT_TRUE(fakes.log().messages().contains(QStringLiteral("refreshPermissionStatusAsync AX result trusted=0")));
}

TEST_F(AppReadinessStateTest, ScheduledRefreshReturnsBeforeTheAnswer)
{
    fakes.trust().trusted = false;
    QCoro::waitFor(state.refreshPermissionStatusAsync());
    fakes.trust().trusted = true;
    state.schedulePermissionRefresh();
    EXPECT_EQ(state.permissionStatus(), AccessibilityPermissionStatus::denied);
    EXPECT_TRUE(rewrite_test::spinUntil([&] { return state.permissionStatus() == AccessibilityPermissionStatus::granted; }));
}

TEST_F(AppReadinessStateTest, WatchStopsAtTheFirstQueryThatSeesTheGrant)
{
    fakes.trust().trusted = false;
    state.startPolling(5, 20'000'000);
    ASSERT_TRUE(rewrite_test::spinUntil([&] { return fakes.trust().queries >= 3; }));
    fakes.trust().trusted = true;
    ASSERT_TRUE(rewrite_test::spinUntil([&] { return !state.isPolling(); }));
    EXPECT_EQ(state.permissionStatus(), AccessibilityPermissionStatus::granted);
    const int queries = fakes.trust().queries;
    rewrite_test::spinFor(80);
    EXPECT_EQ(fakes.trust().queries, queries);
}

TEST_F(AppReadinessStateTest, WatchWithoutGrantEndsSilentlyAtItsDeadline)
{
    // How many queries fit in the watch, and how long the last one takes,
    // depend on the machine's load; that it asks, starts no query once its
    // deadline has passed and then ends, does not.
    fakes.trust().trusted = false;
    QElapsedTimer sinceBefore;
    sinceBefore.start();
    state.startPolling(0.2, 30'000'000);
    QElapsedTimer sinceAfter; // the watch's deadline has passed once this reads 200 ms
    sinceAfter.start();
    ASSERT_TRUE(rewrite_test::spinUntil([&] { return sinceAfter.hasExpired(200); }));
    const int queriesAtTheDeadline = fakes.trust().queries;
    ASSERT_TRUE(rewrite_test::spinUntil([&] { return !state.isPolling(); }));
    EXPECT_GE(sinceBefore.elapsed(), 190);
    EXPECT_EQ(state.permissionStatus(), AccessibilityPermissionStatus::denied);
    const int queries = fakes.trust().queries;
    EXPECT_GE(queries, 1);
    EXPECT_LE(queries, queriesAtTheDeadline + 1) << "a query started after the deadline";
    rewrite_test::spinFor(100);
    EXPECT_EQ(fakes.trust().queries, queries) << "a query after the watch ended";
}

TEST_F(AppReadinessStateTest, NewWatchInterruptsTheSleepOfTheOldOne)
{
    fakes.trust().trusted = false;
    state.startPolling(10, 10'000'000'000); // would sleep 10 s between queries
    ASSERT_TRUE(rewrite_test::spinUntil([&] { return fakes.trust().queries >= 1; }));
    rewrite_test::spinFor(20);
    state.startPolling(0.1, 20'000'000);
    QElapsedTimer elapsed;
    elapsed.start();
    ASSERT_TRUE(rewrite_test::spinUntil([&] { return !state.isPolling(); }));
    EXPECT_LT(elapsed.elapsed(), 5000); // far from the old watch's 10 s sleep
}

TEST_F(AppReadinessStateTest, OpeningTheSettingsPromptsOpensThePaneAndWatches)
{
    fakes.trust().trusted = true;
    state.openAccessibilitySettingsAndWatch();
    EXPECT_EQ(fakes.trust().prompts, 1);
    EXPECT_EQ(fakes.opener().accessibilitySettingsOpened, 1);
    ASSERT_TRUE(rewrite_test::spinUntil([&] { return !state.isPolling(); }));
    EXPECT_EQ(state.permissionStatus(), AccessibilityPermissionStatus::granted);
}
