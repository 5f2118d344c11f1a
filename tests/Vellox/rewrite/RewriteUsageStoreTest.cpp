#include "RewriteTestSupport.h"

#include "Vellox/rewrite/RewriteUsageStore.h"

#include <QSignalSpy>
#include <QTimeZone>

#include <gtest/gtest.h>

namespace {

const QString kCountKey = QString::fromLatin1(RewriteUsageStore::todayCountKey);
const QString kDayKey = QString::fromLatin1(RewriteUsageStore::dayKeyKey);

class RewriteUsageStoreTest : public ::testing::Test {
protected:
    RewriteUsageStoreTest()
    {
        RewriteUsageStore::resetSharedForTesting();
        setLocal(QDate(2026, 3, 5), QTime(14, 0));
    }
    ~RewriteUsageStoreTest() override { RewriteUsageStore::resetSharedForTesting(); }

    void setLocal(QDate date, QTime time) { fakes.clock().set(QDateTime(date, time, Qt::LocalTime)); }

    // What a relaunch sees: a new store over the same defaults.
    RewriteUsageStore& relaunch()
    {
        RewriteUsageStore::resetSharedForTesting();
        return RewriteUsageStore::shared();
    }

    platform::PlatformGuard guard;
    rewrite_test::Fakes fakes;
};

} // namespace

TEST_F(RewriteUsageStoreTest, FirstLaunchStoresZeroForToday)
{
    auto& store = RewriteUsageStore::shared();
    EXPECT_EQ(store.todayCount(), 0);
    EXPECT_EQ(fakes.defaults().value(kDayKey), QVariant(QStringLiteral("2026-03-05")));
    EXPECT_EQ(fakes.defaults().value(kCountKey).toLongLong(), 0);
}

TEST_F(RewriteUsageStoreTest, TodaysCountSurvivesARelaunchAndTheSessionCountDoesNot)
{
    auto& store = RewriteUsageStore::shared();
    for (int i = 0; i < 3; ++i)
        store.recordSuccess();
    EXPECT_EQ(store.sessionCount(), 3);
    auto& again = relaunch();
    EXPECT_EQ(again.todayCount(), 3);
    EXPECT_EQ(again.sessionCount(), 0);
}

TEST_F(RewriteUsageStoreTest, ALaterDayOrAForeignDayKeyStartsFromZero)
{
    for (const QVariant& storedDay : {QVariant(QStringLiteral("2026-03-04")), QVariant(QStringLiteral("5.3.2026")),
                                      QVariant(20260305)}) {
        SCOPED_TRACE(storedDay.toString().toStdString());
        fakes.defaults().setValue(kDayKey, storedDay);
        fakes.defaults().setValue(kCountKey, qint64(7));
        auto& store = relaunch();
        EXPECT_EQ(store.todayCount(), 0);
        EXPECT_EQ(fakes.defaults().value(kCountKey).toLongLong(), 0);
        EXPECT_EQ(fakes.defaults().value(kDayKey), QVariant(QStringLiteral("2026-03-05")));
    }
}

TEST_F(RewriteUsageStoreTest, MidnightResetsTodayButNotTheSession)
{
    setLocal(QDate(2026, 3, 5), QTime(23, 59, 58));
    auto& store = RewriteUsageStore::shared();
    store.recordSuccess();
    store.recordSuccess();
    QSignalSpy today(&store, &RewriteUsageStore::todayCountChanged);

    setLocal(QDate(2026, 3, 6), QTime(0, 0, 1));
    store.calendarDayChanged();
    EXPECT_EQ(store.todayCount(), 0);
    EXPECT_EQ(store.sessionCount(), 2);
    EXPECT_FALSE(today.isEmpty());
    EXPECT_EQ(fakes.defaults().value(kDayKey), QVariant(QStringLiteral("2026-03-06")));

    store.recordSuccess();
    EXPECT_EQ(store.todayCount(), 1);
    EXPECT_EQ(store.sessionCount(), 3);
}

TEST_F(RewriteUsageStoreTest, ASuccessAfterMidnightWithoutTheNotificationStillRollsOver)
{
    setLocal(QDate(2026, 3, 5), QTime(23, 0));
    auto& store = RewriteUsageStore::shared();
    store.recordSuccess();
    setLocal(QDate(2026, 3, 6), QTime(8, 0));
    store.recordSuccess();
    EXPECT_EQ(store.todayCount(), 1);
    EXPECT_EQ(fakes.defaults().value(kCountKey).toLongLong(), 1);
}

TEST_F(RewriteUsageStoreTest, DayKeyPadsEveryPart)
{
    setLocal(QDate(987, 3, 5), QTime(12, 0));
    EXPECT_EQ(RewriteUsageStore::currentDayKey(), QStringLiteral("0987-03-05"));
}
