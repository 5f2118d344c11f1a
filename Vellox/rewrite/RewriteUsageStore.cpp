#include "RewriteUsageStore.h"

#include "platform/Clock.h"
#include "platform/Defaults.h"
#include "platform/Platform.h"

#include <QDateTime>
#include <QTimeZone>

namespace {

RewriteUsageStore*& sharedInstance()
{
    static RewriteUsageStore* instance = nullptr;
    return instance;
}

QDateTime localNow()
{
    const auto& clock = platform::Platform::current().clock;
    return (clock ? clock->now() : QDateTime::currentDateTimeUtc()).toLocalTime();
}

platform::Defaults* defaults()
{
    return platform::Platform::current().defaults.get();
}

// A little past midnight, so the clock already reads the new day when the
// timer fires.
constexpr qint64 kPastMidnightMs = 500;

} // namespace

RewriteUsageStore& RewriteUsageStore::shared()
{
    auto*& instance = sharedInstance();
    if (!instance)
        instance = new RewriteUsageStore; // lives until exit (or a test's reset)
    return *instance;
}

void RewriteUsageStore::resetSharedForTesting()
{
    delete sharedInstance();
    sharedInstance() = nullptr;
}

RewriteUsageStore::RewriteUsageStore()
{
    dayChangeTimer_.setSingleShot(true);
    dayChangeTimer_.setTimerType(Qt::VeryCoarseTimer);
    connect(&dayChangeTimer_, &QTimer::timeout, this, &RewriteUsageStore::calendarDayChanged);
    loadFromStorage();
    scheduleDayChange();
}

QString RewriteUsageStore::currentDayKey()
{
    const QDate today = localNow().date();
    if (!today.isValid())
        return {};
    return QString::asprintf("%04d-%02d-%02d", today.year(), today.month(), today.day());
}

void RewriteUsageStore::loadFromStorage()
{
    const QString key = currentDayKey();
    platform::Defaults* store = defaults();
    if (!store) {
        setTodayCount(0);
        return;
    }
    const QVariant storedDay = store->value(QString::fromLatin1(dayKeyKey));
    if (storedDay.typeId() == QMetaType::QString && storedDay.toString() == key) {
        bool ok = false;
        const qint64 stored = store->value(QString::fromLatin1(todayCountKey)).toLongLong(&ok);
        setTodayCount(ok ? stored : 0);
        return;
    }
    setTodayCount(0);
    store->setValue(QString::fromLatin1(todayCountKey), qint64(0));
    store->setValue(QString::fromLatin1(dayKeyKey), key);
}

void RewriteUsageStore::recordSuccess()
{
    loadFromStorage();
    setTodayCount(todayCount_ + 1);
    ++sessionCount_;
    emit sessionCountChanged(sessionCount_);
    if (platform::Defaults* store = defaults())
        store->setValue(QString::fromLatin1(todayCountKey), todayCount_);
}

void RewriteUsageStore::calendarDayChanged()
{
    loadFromStorage();
    scheduleDayChange();
}

void RewriteUsageStore::setTodayCount(qint64 count)
{
    todayCount_ = count;
    emit todayCountChanged(todayCount_);
}

void RewriteUsageStore::scheduleDayChange()
{
    const QDateTime now = localNow();
    const QDateTime midnight(now.date().addDays(1), QTime(0, 0), now.timeZone());
    const qint64 wait = qMax<qint64>(0, now.msecsTo(midnight)) + kPastMidnightMs;
    dayChangeTimer_.start(std::chrono::milliseconds(wait));
}
