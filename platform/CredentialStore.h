#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace platform {

// Generic-password items identified by a service and an account. Calls block
// their caller and may run on any thread.
class CredentialStore {
public:
    enum class Status { Success, NotFound, Failed };

    struct ReadResult {
        Status status = Status::NotFound;
        QByteArray secret;
    };

    virtual ~CredentialStore() = default;

    // `allowInteraction` false asks the backend not to show any prompt (for
    // example to unlock a locked collection); a read that would need one fails.
    virtual ReadResult read(const QString& service, const QString& account, bool allowInteraction) = 0;
    // Creates the item or replaces its secret in place. On failure the previous
    // secret, if any, is still stored.
    virtual Status store(const QString& service, const QString& account, const QByteArray& secret) = 0;
    // The same, but only when no prompt is needed (a keyring that is locked
    // fails instead of asking the user to unlock it).
    virtual Status storeWithoutInteraction(const QString& service, const QString& account, const QByteArray& secret)
    {
        return store(service, account, secret);
    }
    // Removing an absent item is a success.
    virtual Status remove(const QString& service, const QString& account) = 0;
};

} // namespace platform
