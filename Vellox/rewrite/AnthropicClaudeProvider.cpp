#include "AnthropicClaudeProvider.h"

#include "Vellox/rewrite/ProviderAIError.h"
#include "Vellox/rewrite/ProviderEndpoints.h"
#include "Vellox/rewrite/ProviderHttp.h"
#include "Vellox/rewrite/TransformPromptBuilder.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

constexpr std::chrono::seconds kTimeout{60};
constexpr double kTemperature = 0.4;
constexpr int kMaxTokens = 8192;

} // namespace

std::optional<QString> AnthropicClaudeProvider::extractText(const QByteArray& body)
{
    const QJsonDocument doc = QJsonDocument::fromJson(body);
    if (!doc.isObject())
        return std::nullopt;
    const QJsonValue content = doc.object().value(QLatin1String("content"));
    if (!content.isArray())
        return std::nullopt;
    QString joined;
    for (const QJsonValue& block : content.toArray()) {
        if (!block.isObject())
            return std::nullopt;
        const QJsonValue text = block.toObject().value(QLatin1String("text"));
        if (text.isString())
            joined += text.toString();
    }
    return joined.trimmed();
}

QCoro::Task<QString> AnthropicClaudeProvider::transform(QString text, AITransformMode mode) const
{
    if (apiKey_.isEmpty())
        throw ProviderAIError::missingApiKey();
    const QUrl url = ProviderEndpoints::appendingPath(ProviderEndpoints::anthropicBase(), QStringLiteral("v1/messages"));
    if (!url.isValid())
        throw ProviderAIError::badResponse();

    QNetworkRequest request(url);
    request.setRawHeader("x-api-key", apiKey_.toUtf8());
    request.setRawHeader("anthropic-version", "2023-06-01");
    request.setRawHeader("Content-Type", "application/json");
    const QJsonObject body{
        {QStringLiteral("model"), model_},
        {QStringLiteral("max_tokens"), kMaxTokens},
        {QStringLiteral("temperature"), kTemperature},
        {QStringLiteral("messages"),
         QJsonArray{QJsonObject{
             {QStringLiteral("role"), QStringLiteral("user")},
             {QStringLiteral("content"),
              QJsonArray{QJsonObject{{QStringLiteral("type"), QStringLiteral("text")},
                                     {QStringLiteral("text"), TransformPromptBuilder::userText(text, mode)}}}},
         }}},
        {QStringLiteral("system"), TransformPromptBuilder::systemText(mode)},
    };
    // Named arguments: g++ 12 mishandles temporaries inside co_await.
    const QByteArray method("POST");
    const QByteArray payload = QJsonDocument(body).toJson(QJsonDocument::Compact);
    const ProviderHttp::Answer answer = co_await ProviderHttp::send(request, method, payload, kTimeout);
    if (answer.status < 200 || answer.status > 299)
        throw ProviderAIError::httpStatus(answer.status, ProviderHttp::bodyText(answer.body));
    const auto extracted = extractText(answer.body);
    if (!extracted || extracted->isEmpty())
        throw ProviderAIError::emptyContent();
    co_return *extracted;
}
