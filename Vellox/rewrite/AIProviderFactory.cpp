#include "AIProviderFactory.h"

#include "Vellox/rewrite/AnthropicClaudeProvider.h"
#include "Vellox/rewrite/GeminiProvider.h"
#include "Vellox/rewrite/MockProvider.h"
#include "Vellox/rewrite/OpenAICompatibleProvider.h"
#include "Vellox/settings/KeychainStore.h"

namespace AIProviderFactory {

std::shared_ptr<const AIProviderType> make(const AppSettings& settings)
{
    if (settings.provider == ProviderId::mock)
        return std::make_shared<MockProvider>();
    const QString key = KeychainStore::getApiKey(settings.provider);
    switch (settings.provider) {
    case ProviderId::mock:
        break;
    case ProviderId::openaiCompatible:
        return std::make_shared<OpenAICompatibleProvider>(
            key, settings.apiBaseURL.isEmpty() ? std::nullopt : std::optional<QString>(settings.apiBaseURL),
            settings.model);
    case ProviderId::gemini:
        return std::make_shared<GeminiProvider>(key, settings.model);
    case ProviderId::anthropic:
        return std::make_shared<AnthropicClaudeProvider>(key, settings.model);
    }
    return std::make_shared<MockProvider>();
}

} // namespace AIProviderFactory
