#include "Vellox/app/DetachedKeyRead.h"

#include "Vellox/settings/KeychainStore.h"

#include <QCoroFuture>
#include <QtConcurrent>

QCoro::Task<QString> readApiKeyDetached(ProviderId provider)
{
    if (provider == ProviderId::mock)
        co_return QString();
    // A named future: g++ 12 mishandles lambda temporaries inside co_await.
    QFuture<QString> read = QtConcurrent::run([provider] { return KeychainStore::getApiKey(provider); });
    const QString key = co_await read;
    co_return key;
}

QCoro::Task<bool> anyProviderHasKeyDetached()
{
    QFuture<bool> probe = QtConcurrent::run([] {
        for (ProviderId provider : ProviderId::userFacingCases()) {
            if (!KeychainStore::getApiKey(provider).isEmpty())
                return true;
        }
        return false;
    });
    const bool found = co_await probe;
    co_return found;
}
