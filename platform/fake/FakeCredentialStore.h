#pragma once

#include "platform/CredentialStore.h"

#include <QHash>
#include <QMutex>
#include <QPair>

namespace platform::fake {

// In-memory credentials. A test can make the next operations fail and can
// count the calls that reached the store.
class FakeCredentialStore final : public CredentialStore {
public:
    ReadResult read(const QString& service, const QString& account, bool allowInteraction) override;
    Status store(const QString& service, const QString& account, const QByteArray& secret) override;
    Status remove(const QString& service, const QString& account) override;
    // Fails while the fake keyring is locked, as a real one would need a prompt.
    Status storeWithoutInteraction(const QString& service, const QString& account, const QByteArray& secret) override;

    void failReads(Status status, bool onlyWithoutInteraction = false);
    void failWrites(bool fail);
    void setLocked(bool locked);
    void put(const QString& service, const QString& account, const QByteArray& secret);
    bool contains(const QString& service, const QString& account) const;
    int itemCount() const;
    int readCount() const;
    int storeCount() const;
    int removeCount() const;

private:
    mutable QMutex mutex_;
    QHash<QPair<QString, QString>, QByteArray> items_;
    std::optional<Status> readFailure_;
    bool readFailureOnlyWithoutInteraction_ = false;
    bool failWrites_ = false;
    bool locked_ = false;
    int reads_ = 0;
    int stores_ = 0;
    int removes_ = 0;
};

} // namespace platform::fake
