#include "LinuxCredentialStore.h"

#include "platform/Logger.h"
#include "platform/linux/FileCredentialStore.h"
#include "platform/linux/SecretServiceCredentialStore.h"

namespace platform::linuxbackend {

namespace {

const Logger& credentialsLog()
{
    static const Logger logger(QStringLiteral("app.vellox.desktop"), QStringLiteral("credentials"));
    return logger;
}

LinuxCredentialStore::Options standardOptions()
{
    LinuxCredentialStore::Options options;
    options.secretServiceAvailable = [](QString* reason) {
        return SecretServiceCredentialStore::isServiceAvailable(reason);
    };
    options.makeSecretService = [] { return std::make_shared<SecretServiceCredentialStore>(); };
    options.filePath = FileCredentialStore::standardFilePath();
    return options;
}

} // namespace

LinuxCredentialStore::LinuxCredentialStore()
    : LinuxCredentialStore(standardOptions())
{
    // The session's store is made at start-up on the main thread; the choice
    // may wait for the bus, so it starts now on a thread of its own and the
    // first call only waits for what is left of it.
    choice_ = std::async(std::launch::async, [this] { backend(); });
}

LinuxCredentialStore::~LinuxCredentialStore()
{
    if (choice_.valid())
        choice_.wait();
}

LinuxCredentialStore::LinuxCredentialStore(Options options)
    : options_(std::move(options))
    , file_(std::make_shared<FileCredentialStore>(options_.filePath))
{
}

LinuxCredentialStore::Backend LinuxCredentialStore::backend()
{
    QMutexLocker lock(&mutex_);
    chooseLocked();
    return backend_;
}

void LinuxCredentialStore::chooseLocked()
{
    if (chosen_)
        return;
    chosen_ = true;
    QString reason;
    if (options_.secretServiceAvailable(&reason)) {
        secretService_ = options_.makeSecretService();
        backend_ = Backend::SecretService;
        return;
    }
    backend_ = Backend::File;
    credentialsLog().error(QStringLiteral("No Secret Service answered (%1); credentials are kept in %2 instead")
                               .arg(reason.isEmpty() ? QStringLiteral("no reason given") : reason,
                                    options_.filePath));
}

CredentialStore::ReadResult LinuxCredentialStore::read(const QString& service, const QString& account,
                                                       bool allowInteraction)
{
    if (backend() == Backend::File)
        return file_->read(service, account, allowInteraction);

    ReadResult result = secretService_->read(service, account, allowInteraction);
    if (result.status != Status::NotFound)
        return result;
    // Kept in the file during a session without a keyring: move it over now.
    ReadResult fromFile = file_->read(service, account, allowInteraction);
    if (fromFile.status != Status::Success)
        return result;
    // Reading never brings up an unlock prompt on its own account.
    const Status moved = allowInteraction ? secretService_->store(service, account, fromFile.secret)
                                          : secretService_->storeWithoutInteraction(service, account, fromFile.secret);
    if (moved == Status::Success)
        file_->remove(service, account);
    return fromFile;
}

CredentialStore::Status LinuxCredentialStore::store(const QString& service, const QString& account,
                                                    const QByteArray& secret)
{
    if (backend() == Backend::File)
        return file_->store(service, account, secret);
    const Status status = secretService_->store(service, account, secret);
    if (status == Status::Success)
        file_->remove(service, account);
    return status;
}

CredentialStore::Status LinuxCredentialStore::remove(const QString& service, const QString& account)
{
    if (backend() == Backend::File)
        return file_->remove(service, account);
    const Status status = secretService_->remove(service, account);
    file_->remove(service, account);
    return status;
}

} // namespace platform::linuxbackend
