#include "PanelsTestSupport.h"

#include "Vellox/panels/OneShotAnswer.h"

using namespace panels_test;

namespace {

QCoro::Task<void> await(OneShotAnswer<int> answer, std::shared_ptr<QList<int>> results)
{
    results->append(co_await answer);
}

TEST(OneShotAnswer, ResumesOnceAndOnlyOnALaterTurn)
{
    OneShotAnswer<int> answer;
    auto results = std::make_shared<QList<int>>();
    await(answer, results);
    EXPECT_TRUE(answer.answer(7));
    EXPECT_TRUE(results->isEmpty()) << "not from inside the answering call";
    EXPECT_FALSE(answer.answer(8));
    spinUntil([&] { return !results->isEmpty(); });
    spinFor(10);
    EXPECT_EQ(*results, QList<int>{7});
}

TEST(OneShotAnswer, AnAnswerGivenBeforeTheAwaitIsKept)
{
    OneShotAnswer<int> answer;
    answer.answer(3);
    spinFor(5);
    auto results = std::make_shared<QList<int>>();
    await(answer, results);
    EXPECT_EQ(*results, QList<int>{3});
}

TEST(OneShotAnswer, AWaiterDestroyedBeforeTheAnswerIsNotResumed)
{
    OneShotAnswer<int> answer;
    auto results = std::make_shared<QList<int>>();
    {
        QCoro::Task<void> task = await(answer, results);
        Q_UNUSED(task);
    }
    answer.answer(1);
    spinFor(10);
    SUCCEED();
}

} // namespace
