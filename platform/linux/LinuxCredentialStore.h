#pragma once

#include "platform/CredentialStore.h"

#include <QMutex>
#include <QString>

#include <functional>
#include <future>
#include <memory>

namespace platform::linuxbackend {

// The credential store of a Linux session: the Secret Service when one answers
// on the session bus, else the 0600 file, with one warning in the system log.
// The choice is made on first use, not at construction, because asking the bus
// may block (it can start a keyring daemon) and the first use runs off the
// main thread; it then holds for the rest of the process.
//
// While the Secret Service is in use the file is only a source to migrate
// from: an item found there and not in the keyring is moved into the keyring
// when read, and storing or removing an item also removes its stale copy from
// the file, so a key deleted in the keyring cannot come back from it.
class LinuxCredentialStore final : public CredentialStore {
public:
    enum class Backend { SecretService, File };

    struct Options {
        // Answers whether a Secret Service can be used; on false sets the reason.
        std::function<bool(QString* reason)> secretServiceAvailable;
        std::function<std::shared_ptr<CredentialStore>()> makeSecretService;
        QString filePath;
    };

    // The session's services; the choice starts at once, off the caller's thread.
    LinuxCredentialStore();
    // Chooses on first use.
    explicit LinuxCredentialStore(Options options);
    ~LinuxCredentialStore() override;

    ReadResult read(const QString& service, const QString& account, bool allowInteraction) override;
    Status store(const QString& service, const QString& account, const QByteArray& secret) override;
    Status remove(const QString& service, const QString& account) override;

    // Makes the choice if it was not made yet.
    Backend backend();

private:
    void chooseLocked();

    Options options_;
    QMutex mutex_;
    bool chosen_ = false;
    Backend backend_ = Backend::File;
    std::shared_ptr<CredentialStore> secretService_;
    std::shared_ptr<CredentialStore> file_;
    std::future<void> choice_;
};

} // namespace platform::linuxbackend
