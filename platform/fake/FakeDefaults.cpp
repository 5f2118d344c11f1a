#include "FakeDefaults.h"

namespace platform::fake {

QVariant FakeDefaults::value(const QString& key) const
{
    QMutexLocker lock(&mutex_);
    return values_.value(key);
}

void FakeDefaults::setValue(const QString& key, const QVariant& value)
{
    QMutexLocker lock(&mutex_);
    if (!value.isValid())
        values_.remove(key);
    else
        values_.insert(key, value);
    ++writes_[key];
    ++totalWrites_;
}

void FakeDefaults::remove(const QString& key)
{
    QMutexLocker lock(&mutex_);
    values_.remove(key);
    ++writes_[key];
    ++totalWrites_;
}

QStringList FakeDefaults::keys() const
{
    QMutexLocker lock(&mutex_);
    return values_.keys();
}

int FakeDefaults::writeCount() const
{
    QMutexLocker lock(&mutex_);
    return totalWrites_;
}

int FakeDefaults::writeCount(const QString& key) const
{
    QMutexLocker lock(&mutex_);
    return writes_.value(key);
}

} // namespace platform::fake
