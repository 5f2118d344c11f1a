#include "FakeCredentialStore.h"

namespace platform::fake {

CredentialStore::ReadResult FakeCredentialStore::read(const QString& service, const QString& account,
                                                      bool allowInteraction)
{
    QMutexLocker lock(&mutex_);
    ++reads_;
    if (readFailure_ && !(readFailureOnlyWithoutInteraction_ && allowInteraction))
        return {*readFailure_, {}};
    const auto it = items_.constFind({service, account});
    if (it == items_.constEnd())
        return {Status::NotFound, {}};
    return {Status::Success, *it};
}

CredentialStore::Status FakeCredentialStore::store(const QString& service, const QString& account,
                                                   const QByteArray& secret)
{
    QMutexLocker lock(&mutex_);
    ++stores_;
    if (failWrites_)
        return Status::Failed;
    items_.insert({service, account}, secret);
    return Status::Success;
}

CredentialStore::Status FakeCredentialStore::remove(const QString& service, const QString& account)
{
    QMutexLocker lock(&mutex_);
    ++removes_;
    if (failWrites_)
        return Status::Failed;
    items_.remove({service, account});
    return Status::Success;
}

CredentialStore::Status FakeCredentialStore::storeWithoutInteraction(const QString& service, const QString& account,
                                                                     const QByteArray& secret)
{
    {
        QMutexLocker lock(&mutex_);
        if (locked_)
            return Status::Failed;
    }
    return store(service, account, secret);
}

void FakeCredentialStore::setLocked(bool locked)
{
    QMutexLocker lock(&mutex_);
    locked_ = locked;
}

void FakeCredentialStore::failReads(Status status, bool onlyWithoutInteraction)
{
    QMutexLocker lock(&mutex_);
    if (status == Status::Success)
        readFailure_.reset();
    else
        readFailure_ = status;
    readFailureOnlyWithoutInteraction_ = onlyWithoutInteraction;
}

void FakeCredentialStore::failWrites(bool fail)
{
    QMutexLocker lock(&mutex_);
    failWrites_ = fail;
}

void FakeCredentialStore::put(const QString& service, const QString& account, const QByteArray& secret)
{
    QMutexLocker lock(&mutex_);
    items_.insert({service, account}, secret);
}

bool FakeCredentialStore::contains(const QString& service, const QString& account) const
{
    QMutexLocker lock(&mutex_);
    return items_.contains({service, account});
}

int FakeCredentialStore::itemCount() const
{
    QMutexLocker lock(&mutex_);
    return static_cast<int>(items_.size());
}

int FakeCredentialStore::readCount() const
{
    QMutexLocker lock(&mutex_);
    return reads_;
}

int FakeCredentialStore::storeCount() const
{
    QMutexLocker lock(&mutex_);
    return stores_;
}

int FakeCredentialStore::removeCount() const
{
    QMutexLocker lock(&mutex_);
    return removes_;
}

} // namespace platform::fake
