#include "GeminiProvider.h"

#include "Vellox/rewrite/ProviderEndpoints.h"
#include "Vellox/rewrite/TransformPromptBuilder.h"
#include "gemini-client/GenerativeModel.h"

namespace {

constexpr float kTemperature = 0.4f;
constexpr double kTimeoutSeconds = 300;

} // namespace

ProviderAIError GeminiProvider::mapGeminiError(const gemini::GenerateContentError& error)
{
    using Kind = gemini::GenerateContentError::Kind;
    switch (error.kind()) {
    case Kind::promptImageContentError:
        return ProviderAIError::badResponse();
    case Kind::internalError:
        return ProviderAIError::httpStatus(500, error.underlying() ? error.underlying()->description()
                                                                   : error.description());
    case Kind::promptBlocked: {
        QString reason = QStringLiteral("safety");
        if (const auto* response = error.response(); response && response->promptFeedback
            && response->promptFeedback->blockReason)
            reason = gemini::caseName(*response->promptFeedback->blockReason);
        return ProviderAIError::httpStatus(
            400, QStringLiteral("Gemini blocked the request (%1). Try different wording.").arg(reason));
    }
    case Kind::responseStoppedEarly:
        return ProviderAIError::httpStatus(
            500, QStringLiteral("Gemini stopped early: ")
                     + gemini::rawValue(error.reason().value_or(gemini::FinishReason::unknown)));
    case Kind::invalidAPIKey:
        return ProviderAIError::httpStatus(401, error.message());
    case Kind::unsupportedUserLocation:
        return ProviderAIError::httpStatus(403, QStringLiteral("Gemini API is not available in your region."));
    }
    return ProviderAIError::badResponse();
}

QCoro::Task<QString> GeminiProvider::transform(QString text, AITransformMode mode) const
{
    if (apiKey_.isEmpty())
        throw ProviderAIError::missingApiKey();
    std::optional<gemini::GenerateContentResponse> response;
    try {
        gemini::GenerationConfig config;
        config.temperature = kTemperature;
        const gemini::GenerativeModel model(
            model_, apiKey_, config, std::nullopt, std::nullopt, std::nullopt,
            gemini::ModelContent(QStringLiteral("system"), TransformPromptBuilder::systemText(mode)),
            gemini::RequestOptions(kTimeoutSeconds, QStringLiteral("v1beta"), ProviderEndpoints::geminiBase()));
        const QString userText = TransformPromptBuilder::userText(text, mode);
        response = co_await model.generateContent(userText);
    } catch (const gemini::GenerateContentError& error) {
        throw mapGeminiError(error);
    } catch (const std::exception&) {
        throw ProviderAIError::httpStatus(500, localizedDescription(std::current_exception()));
    }
    const QString answer = response->text().value_or(QString()).trimmed();
    if (answer.isEmpty())
        throw ProviderAIError::emptyContent();
    co_return answer;
}
