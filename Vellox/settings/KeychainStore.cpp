#include "KeychainStore.h"

#include "Vellox/settings/VelloxLog.h"
#include "analytics/AnalyticsManager.h"
#include "platform/Platform.h"

#include <QStringDecoder>

#include <algorithm>

using Status = platform::CredentialStore::Status;

namespace {

const QString& service()
{
    static const QString name = QString::fromLatin1(KeychainStore::kService);
    return name;
}

platform::CredentialStore* credentials()
{
    return platform::Platform::current().credentials.get();
}

// Data that is not valid UTF-8 reads as no key at all.
QString decodeKey(const QByteArray& data)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(data);
    if (decoder.hasError())
        return {};
    // Items made by hand (`echo key | secret-tool store ...`) end in a newline
    // that would otherwise travel into the request header.
    return text.trimmed();
}

} // namespace

QString KeychainStore::account(ProviderId provider)
{
    return provider.rawValue() + QStringLiteral("-api-key");
}

bool KeychainStore::containsControlCharacter(const QString& text)
{
    return std::any_of(text.cbegin(), text.cend(),
                       [](QChar c) { return c.category() == QChar::Other_Control; });
}

KeychainStore::CopyResult KeychainStore::copyMatching(ProviderId provider, bool skipAuthenticationUI)
{
    platform::CredentialStore* store = credentials();
    if (!store)
        return {QString(), Status::Failed};
    const auto result = store->read(service(), account(provider), !skipAuthenticationUI);
    if (result.status != Status::Success)
        return {QString(), result.status};
    return {decodeKey(result.secret), Status::Success};
}

QString KeychainStore::getApiKey(ProviderId provider)
{
    if (provider == ProviderId::mock)
        return {};
    const CopyResult quiet = copyMatching(provider, true);
    if (quiet.status == Status::Success)
        return quiet.value;
    if (quiet.status == Status::NotFound)
        return {};
    // Locked or otherwise unavailable: one more try that may ask the user.
    const CopyResult asked = copyMatching(provider, false);
    return asked.status == Status::Success ? asked.value : QString();
}

KeychainStore::SaveResult KeychainStore::setApiKey(const QString& key, ProviderId provider)
{
    if (provider == ProviderId::mock)
        return SaveResult::NoKeyNeeded;
    platform::CredentialStore* store = credentials();
    const QString trimmed = key.trimmed();
    if (trimmed.isEmpty()) {
        if (!store || store->remove(service(), account(provider)) != Status::Success)
            return SaveResult::Failed;
        return SaveResult::Removed;
    }
    if (containsControlCharacter(trimmed)) {
        VelloxLog::ui().error(QStringLiteral("API key for %1 not stored: it contains a control character")
                                  .arg(provider.rawValue()));
        return SaveResult::RefusedControlCharacter;
    }

    // Replaced in place: if this fails, the previous key is still there.
    if (!store || store->store(service(), account(provider), trimmed.toUtf8()) != Status::Success) {
        VelloxLog::ui().error(QStringLiteral("API key for %1 not stored: the credential store refused it")
                                  .arg(provider.rawValue()));
        return SaveResult::Failed;
    }
    analytics::AnalyticsManager::track(QStringLiteral("api_key_added"),
                                       QVariantMap{{QStringLiteral("provider"), provider.rawValue()}});
    return SaveResult::Stored;
}

void KeychainStore::deleteApiKey(ProviderId provider)
{
    if (provider == ProviderId::mock)
        return;
    if (platform::CredentialStore* store = credentials())
        store->remove(service(), account(provider));
}
