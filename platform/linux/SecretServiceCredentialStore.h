#pragma once

#include "platform/CredentialStore.h"

#include <QMutex>
#include <QString>

namespace platform::linuxbackend {

// Credentials as Secret Service items (gnome-keyring, KWallet, KeePassXC, ...)
// with the attributes "service" and "account". Items are matched on those two
// attributes alone, whatever schema they were made with, so an item made by
//   secret-tool store --label=... service Vellox account openai-compatible-api-key
// is found. When several items match, the unlocked, most recently modified one
// counts; storing collapses them into that one.
class SecretServiceCredentialStore final : public CredentialStore {
public:
    // The schema name our own items carry.
    static constexpr const char* kSchemaName = "app.vellox.desktop.Credential";

    // Whether a Secret Service answers on the session bus, asked over a private
    // connection so the answer reflects the environment at the time of the call.
    // On false, `reason` (when given) says what went wrong.
    static bool isServiceAvailable(QString* reason = nullptr, int timeoutMs = kProbeTimeoutMs);

    ReadResult read(const QString& service, const QString& account, bool allowInteraction) override;
    Status store(const QString& service, const QString& account, const QByteArray& secret) override;
    Status storeWithoutInteraction(const QString& service, const QString& account, const QByteArray& secret) override;
    Status remove(const QString& service, const QString& account) override;

private:
    // Long enough for an activatable keyring to start, short enough that a
    // service that never answers does not hold the application up for long.
    static constexpr int kProbeTimeoutMs = 3000;

    // One operation at a time: libsecret's shared session with the service is
    // set up lazily and is not meant to be raced for.
    QMutex mutex_;
};

} // namespace platform::linuxbackend
