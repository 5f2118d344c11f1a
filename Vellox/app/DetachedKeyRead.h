#pragma once

#include "Vellox/settings/ProviderId.h"

#include <QCoroTask>
#include <QString>

// Reads one provider's stored API key on a pool thread: the key, or "" when
// there is none or the provider is the mock one. The settings window and
// onboarding never read the credential store on the main thread.
QCoro::Task<QString> readApiKeyDetached(ProviderId provider);

// Whether any provider the user can pick has a non-empty stored key, read on
// a pool thread in the providers' order.
QCoro::Task<bool> anyProviderHasKeyDetached();
