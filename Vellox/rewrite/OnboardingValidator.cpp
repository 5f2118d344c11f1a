#include "OnboardingValidator.h"

#include "Vellox/rewrite/OpenAICompatibleProvider.h"
#include "Vellox/rewrite/ProviderEndpoints.h"
#include "Vellox/rewrite/ProviderHttp.h"
#include "Vellox/settings/KeychainStore.h"
#include "Vellox/settings/PreferencesStore.h"
#include "Vellox/settings/VelloxLog.h"
#include "platform/Defaults.h"
#include "platform/Platform.h"

#include <QCoroFuture>
#include <QStringDecoder>
#include <QtConcurrent>

namespace OnboardingValidator {

namespace {

enum class PingOutcome { accepted, unauthorized, unreachable };

const QString kUnreachable = QStringLiteral("Couldn't connect. Check your network.");

QCoro::Task<std::optional<ProviderHttp::Answer>> probe(QNetworkRequest request)
{
    const QByteArray method("GET");
    const QByteArray noBody;
    try {
        co_return co_await ProviderHttp::send(request, method, noBody, std::chrono::milliseconds(kProbeTimeoutMs));
    } catch (const std::exception&) {
        co_return std::nullopt; // no HTTP answer
    }
}

PingOutcome classifyByStatus(int status)
{
    if (status >= 200 && status <= 299)
        return PingOutcome::accepted;
    if (status == 401 || status == 403)
        return PingOutcome::unauthorized;
    return PingOutcome::accepted; // only an explicit refusal fails the key
}

QCoro::Task<PingOutcome> classifyAuthByStatus(QNetworkRequest request)
{
    const auto answer = co_await probe(request);
    if (!answer)
        co_return PingOutcome::unreachable;
    co_return classifyByStatus(answer->status);
}

// The base URL the rewrites will go to: the one in the settings, else the
// default (VELLOX_OPENAI_BASE_URL or the public service).
QUrl openAIBaseURL(const QString& key)
{
    const QString configured = PreferencesStore::shared().settings().apiBaseURL;
    return OpenAICompatibleProvider(key, configured.isEmpty() ? std::nullopt : std::optional(configured), QString())
        .baseURL();
}

// The listing of the base URL the rewrites will go to, so the key is tried
// where it will be used and never sent anywhere the user did not configure.
QCoro::Task<PingOutcome> pingOpenAI(QString key, QUrl base)
{
    if (base.isEmpty())
        co_return PingOutcome::unreachable;
    QNetworkRequest request(ProviderEndpoints::appendingPath(base, QStringLiteral("models")));
    request.setRawHeader("Authorization", "Bearer " + key.toUtf8());
    co_return co_await classifyAuthByStatus(request);
}

QCoro::Task<PingOutcome> pingAnthropic(QString key)
{
    const QUrl url = ProviderEndpoints::appendingPath(ProviderEndpoints::anthropicBase(), QStringLiteral("v1/models"));
    if (!url.isValid())
        co_return PingOutcome::unreachable;
    QNetworkRequest request(url);
    request.setRawHeader("x-api-key", key.toUtf8());
    request.setRawHeader("anthropic-version", "2023-06-01");
    co_return co_await classifyAuthByStatus(request);
}

// The key travels in a header, never in the query, which proxies and server
// logs keep.
QCoro::Task<PingOutcome> pingGemini(QString key)
{
    const QUrl url =
        ProviderEndpoints::appendingPath(QUrl(ProviderEndpoints::geminiBase()), QStringLiteral("v1beta/models"));
    if (!url.isValid())
        co_return PingOutcome::unreachable;
    QNetworkRequest request(url);
    request.setRawHeader("x-goog-api-key", key.toUtf8());
    const auto answer = co_await probe(request);
    if (!answer)
        co_return PingOutcome::unreachable;
    if (answer->status == 400) {
        QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        QString text = decoder(answer->body);
        if (decoder.hasError())
            text.clear();
        if (text.contains(QLatin1String("API_KEY_INVALID"))
            || text.contains(QLatin1String("api key not valid"), Qt::CaseInsensitive))
            co_return PingOutcome::unauthorized;
        co_return PingOutcome::accepted;
    }
    co_return classifyByStatus(answer->status);
}

QCoro::Task<PingOutcome> ping(ProviderId provider, QString key, QUrl openAIBase)
{
    switch (provider) {
    case ProviderId::openaiCompatible:
        co_return co_await pingOpenAI(key, openAIBase);
    case ProviderId::anthropic:
        co_return co_await pingAnthropic(key);
    case ProviderId::gemini:
        co_return co_await pingGemini(key);
    case ProviderId::mock:
        break;
    }
    co_return PingOutcome::accepted;
}

} // namespace

QString invalidKeyMessage()
{
    return QStringLiteral("Invalid API key");
}

QString keyNotSavedMessage()
{
    return QStringLiteral("Couldn't save the key. Check that your keyring is unlocked.");
}

QString defaultModel(ProviderId provider)
{
    switch (provider) {
    case ProviderId::openaiCompatible:
        return QStringLiteral("gpt-4o-mini");
    case ProviderId::gemini:
        return QStringLiteral("gemini-2.5-flash");
    case ProviderId::anthropic:
        return QStringLiteral("claude-3-5-haiku-20241022");
    case ProviderId::mock:
        break;
    }
    return QStringLiteral("mock");
}

QCoro::Task<ValidationResult> validate(ProviderId provider, QString key)
{
    const QString trimmed = key.trimmed();
    // A control character inside would end up in a request header.
    if (trimmed.isEmpty() || KeychainStore::containsControlCharacter(trimmed))
        co_return ValidationFailure{invalidKeyMessage()};

    const QUrl openAIBase = provider == ProviderId::openaiCompatible ? openAIBaseURL(trimmed) : QUrl();
    const PingOutcome outcome = co_await ping(provider, trimmed, openAIBase);
    if (outcome == PingOutcome::unauthorized)
        co_return ValidationFailure{invalidKeyMessage()};
    if (outcome == PingOutcome::unreachable) {
        // A compatible server is the usual reason to miss: name where the
        // key was tried, so a wrong or missing base URL shows.
        if (!openAIBase.isEmpty())
            co_return ValidationFailure{QStringLiteral("Couldn't connect to %1. Check your network and the base URL.")
                                            .arg(openAIBase.toDisplayString(QUrl::RemoveUserInfo))};
        co_return ValidationFailure{kUnreachable};
    }

    if (provider != ProviderId::mock) {
        // The credential store blocks; reading the key back is what proves it
        // was kept, so an accepted key is never lost silently.
        QFuture<bool> saving = QtConcurrent::run([provider, trimmed] {
            const KeychainStore::SaveResult result = KeychainStore::setApiKey(trimmed, provider);
            return result == KeychainStore::SaveResult::Stored && KeychainStore::getApiKey(provider) == trimmed;
        });
        const bool saved = co_await saving;
        if (!saved) {
            VelloxLog::startup().error(
                QStringLiteral("API key for %1 was accepted but could not be stored").arg(provider.rawValue()));
            co_return ValidationFailure{keyNotSavedMessage()};
        }
    }

    PreferencesStore& store = PreferencesStore::shared();
    AppSettings settings = store.settings();
    settings.provider = provider;
    settings.model = defaultModel(provider);
    // The key works where it was tried. Later starts may lack the variable
    // that pointed there (the autostart entry sets none), so a place other
    // than the public service is kept in the field Settings shows.
    if (provider == ProviderId::openaiCompatible && settings.apiBaseURL.isEmpty()
        && openAIBase != ProviderEndpoints::openAIPublicBase())
        settings.apiBaseURL = openAIBase.toString();
    if (settings.askToneEachTime && settings.askAICommandEachTime)
        settings.askAICommandEachTime = false;
    settings.ensureValidDefaultTone();
    store.setSettings(settings);
    if (const auto& defaults = platform::Platform::current().defaults)
        defaults->setValue(QString::fromLatin1(kOnboardingCompletedKey), true);
    co_return std::nullopt;
}

} // namespace OnboardingValidator
