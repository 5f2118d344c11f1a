#include "ProviderEndpoints.h"

#include "gemini-client/RequestOptions.h"

namespace ProviderEndpoints {

namespace {

QString fromEnvironment(const char* name, const QString& fallback)
{
    const QString value = qEnvironmentVariable(name).trimmed();
    return value.isEmpty() ? fallback : value;
}

} // namespace

QUrl openAIPublicBase()
{
    return QUrl(QStringLiteral("https://api.openai.com/v1"));
}

QUrl openAIDefaultBase()
{
    return QUrl(fromEnvironment("VELLOX_OPENAI_BASE_URL", openAIPublicBase().toString()));
}

QUrl anthropicBase()
{
    return QUrl(fromEnvironment("VELLOX_ANTHROPIC_BASE_URL", QStringLiteral("https://api.anthropic.com")));
}

QString geminiBase()
{
    return fromEnvironment("VELLOX_GEMINI_BASE_URL", gemini::RequestOptions::defaultBaseURL());
}

QUrl appendingPath(const QUrl& base, const QString& component)
{
    QUrl url = base;
    QString path = url.path();
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    url.setPath(path + component);
    return url;
}

} // namespace ProviderEndpoints
