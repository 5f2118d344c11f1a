#pragma once

#include "Vellox/rewrite/AIProviderType.h"
#include "Vellox/settings/AppSettings.h"

#include <memory>

// Builds the provider the settings name, with its key from the credential
// store (a blocking read). Never fails: an empty key or an unusable base URL
// is reported by the provider's transform(), before anything is sent.
namespace AIProviderFactory {

std::shared_ptr<const AIProviderType> make(const AppSettings& settings);

} // namespace AIProviderFactory
