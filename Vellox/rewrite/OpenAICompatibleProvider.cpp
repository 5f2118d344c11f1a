#include "OpenAICompatibleProvider.h"

#include "Vellox/rewrite/ProviderAIError.h"
#include "Vellox/rewrite/ProviderConfigurationError.h"
#include "Vellox/rewrite/ProviderEndpoints.h"
#include "Vellox/rewrite/ProviderHttp.h"
#include "Vellox/rewrite/TransformPromptBuilder.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

constexpr std::chrono::seconds kTimeout{60};
constexpr double kTemperature = 0.4;

bool isUsableBase(const QUrl& url)
{
    return url.isValid() && (url.scheme() == QLatin1String("https") || url.scheme() == QLatin1String("http"))
        && !url.host().isEmpty();
}

// The answer's strict shape: every choice must carry a message object whose
// content is a string, null or absent.
std::optional<QString> strictContent(const QByteArray& body)
{
    const QJsonDocument doc = QJsonDocument::fromJson(body);
    if (!doc.isObject())
        return std::nullopt;
    const QJsonValue choices = doc.object().value(QLatin1String("choices"));
    if (!choices.isArray())
        return std::nullopt;
    std::optional<QString> first;
    const QJsonArray list = choices.toArray();
    for (qsizetype i = 0; i < list.size(); ++i) {
        if (!list.at(i).isObject())
            return std::nullopt;
        const QJsonValue message = list.at(i).toObject().value(QLatin1String("message"));
        if (!message.isObject())
            return std::nullopt;
        const QJsonValue content = message.toObject().value(QLatin1String("content"));
        if (!content.isString() && !content.isNull() && !content.isUndefined())
            return std::nullopt;
        if (i == 0 && content.isString())
            first = content.toString();
    }
    return first;
}

} // namespace

OpenAICompatibleProvider::OpenAICompatibleProvider(QString apiKey, std::optional<QString> baseURL, QString model)
    : apiKey_(std::move(apiKey))
    , model_(std::move(model))
{
    if (!baseURL || baseURL->isEmpty()) {
        baseURL_ = ProviderEndpoints::openAIDefaultBase();
        return;
    }
    const QUrl parsed(*baseURL, QUrl::StrictMode);
    if (isUsableBase(parsed))
        baseURL_ = parsed;
    else
        unparsableBaseURL_ = *baseURL;
}

QUrl OpenAICompatibleProvider::chatCompletionsURL() const
{
    return ProviderEndpoints::appendingPath(baseURL_, QStringLiteral("chat/completions"));
}

std::optional<QString> OpenAICompatibleProvider::extractAssistantText(const QByteArray& body)
{
    const QJsonDocument doc = QJsonDocument::fromJson(body);
    const QJsonValue content = doc.object()
                                   .value(QLatin1String("choices"))
                                   .toArray()
                                   .at(0)
                                   .toObject()
                                   .value(QLatin1String("message"))
                                   .toObject()
                                   .value(QLatin1String("content"));
    if (!content.isString())
        return std::nullopt;
    return content.toString().trimmed();
}

QCoro::Task<QString> OpenAICompatibleProvider::transform(QString text, AITransformMode mode) const
{
    if (apiKey_.isEmpty())
        throw ProviderAIError::missingApiKey();
    if (baseURL_.isEmpty())
        throw ProviderConfigurationError::invalidBaseURL(unparsableBaseURL_);

    QNetworkRequest request(chatCompletionsURL());
    request.setRawHeader("Authorization", "Bearer " + apiKey_.toUtf8());
    request.setRawHeader("Content-Type", "application/json");
    const QJsonObject body{
        {QStringLiteral("model"), model_},
        {QStringLiteral("temperature"), kTemperature},
        {QStringLiteral("messages"),
         QJsonArray{
             QJsonObject{{QStringLiteral("role"), QStringLiteral("system")},
                         {QStringLiteral("content"), TransformPromptBuilder::systemText(mode)}},
             QJsonObject{{QStringLiteral("role"), QStringLiteral("user")},
                         {QStringLiteral("content"), TransformPromptBuilder::userText(text, mode)}},
         }},
    };
    // Named arguments: g++ 12 mishandles temporaries inside co_await.
    const QByteArray method("POST");
    const QByteArray payload = QJsonDocument(body).toJson(QJsonDocument::Compact);
    const ProviderHttp::Answer answer = co_await ProviderHttp::send(request, method, payload, kTimeout);
    if (answer.status < 200 || answer.status > 299)
        throw ProviderAIError::httpStatus(answer.status, ProviderHttp::bodyText(answer.body));
    if (const auto strict = strictContent(answer.body)) {
        const QString trimmed = strict->trimmed();
        if (!trimmed.isEmpty())
            co_return trimmed;
    }
    if (const auto lenient = extractAssistantText(answer.body); lenient && !lenient->isEmpty())
        co_return *lenient;
    throw ProviderAIError::emptyContent();
}
