#include "GenerativeModel.h"

#include "gemini-client/Chat.h"
#include "gemini-client/GeminiClientInfo.h"
#include "gemini-client/Logging.h"

namespace gemini {

namespace {

constexpr const char* kUserLocationMessage = "User location is not supported for the API use.";
constexpr const char* kInvalidApiKeyReason = "API_KEY_INVALID";

QString resourceName(const QString& name)
{
    return name.contains(u'/') ? name : QStringLiteral("models/") + name;
}

ModelContent systemContent(const QStringList& texts)
{
    QList<ContentPart> parts;
    for (const QString& text : texts)
        parts.append(ContentPart::text(text));
    return ModelContent(QStringLiteral("system"), parts);
}

} // namespace

struct GenerativeModel::State {
    QString modelResourceName;
    GeminiService geminiService;
    std::optional<GenerationConfig> generationConfig;
    std::optional<QList<SafetySetting>> safetySettings;
    std::optional<QList<Tool>> tools;
    std::optional<ToolConfig> toolConfig;
    std::optional<ModelContent> systemInstruction;
    RequestOptions requestOptions;
};

GenerativeModel::GenerativeModel(QString name, QString apiKey, std::optional<GenerationConfig> generationConfig,
                                 std::optional<QList<SafetySetting>> safetySettings, std::optional<QList<Tool>> tools,
                                 std::optional<ToolConfig> toolConfig, std::optional<ModelContent> systemInstruction,
                                 RequestOptions requestOptions, QNetworkAccessManager* urlSession)
    : state_(std::make_shared<const State>(State{
          resourceName(name),
          GeminiService(std::move(apiKey), urlSession),
          std::move(generationConfig),
          std::move(safetySettings),
          std::move(tools),
          std::move(toolConfig),
          std::move(systemInstruction),
          std::move(requestOptions),
      }))
{
    Logging::defaultLogger().info(QStringLiteral("[GeminiClient] Model %1 initialized. To enable additional logging, "
                                                 "add `%2` as a launch argument in Xcode.")
                                      .arg(name, QLatin1String(GeminiClientInfo::debugLaunchArgument)));
    Logging::verbose().debug(QStringLiteral("[GeminiClient] Verbose logging enabled."));
}

GenerativeModel::GenerativeModel(QString name, QString apiKey, std::optional<GenerationConfig> generationConfig,
                                 std::optional<QList<SafetySetting>> safetySettings, std::optional<QList<Tool>> tools,
                                 std::optional<ToolConfig> toolConfig, const QStringList& systemInstruction,
                                 RequestOptions requestOptions, QNetworkAccessManager* urlSession)
    : GenerativeModel(std::move(name), std::move(apiKey), std::move(generationConfig), std::move(safetySettings),
                      std::move(tools), std::move(toolConfig), systemContent(systemInstruction),
                      std::move(requestOptions), urlSession)
{
}

const QString& GenerativeModel::modelResourceName() const
{
    return state_->modelResourceName;
}

const GeminiService& GenerativeModel::geminiService() const
{
    return state_->geminiService;
}

const std::optional<GenerationConfig>& GenerativeModel::generationConfig() const
{
    return state_->generationConfig;
}

const std::optional<QList<SafetySetting>>& GenerativeModel::safetySettings() const
{
    return state_->safetySettings;
}

const std::optional<QList<Tool>>& GenerativeModel::tools() const
{
    return state_->tools;
}

const std::optional<ToolConfig>& GenerativeModel::toolConfig() const
{
    return state_->toolConfig;
}

const std::optional<ModelContent>& GenerativeModel::systemInstruction() const
{
    return state_->systemInstruction;
}

const RequestOptions& GenerativeModel::requestOptions() const
{
    return state_->requestOptions;
}

GenerateContentRequest GenerativeModel::makeRequest(QList<ModelContent> contents, bool isStreaming) const
{
    return GenerateContentRequest{
        state_->modelResourceName, std::move(contents), state_->generationConfig,
        state_->safetySettings,    state_->tools,       state_->toolConfig,
        state_->systemInstruction, isStreaming,         state_->requestOptions,
    };
}

void checkGenerateContentResponse(const GenerateContentResponse& response)
{
    if (response.promptFeedback && response.promptFeedback->blockReason)
        throw GenerateContentError::promptBlocked(response);
    if (!response.candidates.isEmpty()) {
        const auto& reason = response.candidates.first().finishReason;
        if (reason && *reason != FinishReason::stop)
            throw GenerateContentError::responseStoppedEarly(*reason, response);
    }
}

GenerateContentError GenerativeModel::generateContentError(const ErrorPtr& error)
{
    if (const auto* generateError = errorAs<GenerateContentError>(error))
        return *generateError;
    if (const auto* rpcError = errorAs<RPCError>(error)) {
        const std::optional<ErrorDetails> info = rpcError->errorInfo();
        if (info && info->reason == QLatin1String(kInvalidApiKeyReason))
            return GenerateContentError::invalidAPIKey(rpcError->message());
        if (rpcError->message() == QLatin1String(kUserLocationMessage))
            return GenerateContentError::unsupportedUserLocation();
    }
    return GenerateContentError::internalError(error);
}

QCoro::Task<GenerateContentResponse> GenerativeModel::generateContent(ContentsProducer contents) const
{
    return generate(*this, std::move(contents));
}

QCoro::Task<GenerateContentResponse> GenerativeModel::generate(GenerativeModel model, ContentsProducer producer)
{
    QList<ModelContent> contents;
    try {
        contents = producer();
    } catch (const ImageConversionError& error) {
        throw GenerateContentError::promptImageContentError(error);
    } catch (...) {
        throw generateContentError(currentError());
    }

    GenerateContentRequest request = model.makeRequest(std::move(contents), false);
    QCoro::Task<GenerateContentResponse> load = model.geminiService().loadRequest(std::move(request));
    GenerateContentResponse response;
    ErrorPtr failure;
    try {
        response = co_await load;
    } catch (...) {
        failure = currentError();
    }
    if (failure)
        throw generateContentError(failure);
    checkGenerateContentResponse(response);
    co_return response;
}

AsyncStream<GenerateContentResponse> GenerativeModel::generateContentStream(ContentsProducer producer) const
{
    QList<ModelContent> contents;
    try {
        contents = producer();
    } catch (const ImageConversionError& error) {
        return AsyncStream<GenerateContentResponse>::failed(
            GenerateContentError::promptImageContentError(error).clone());
    } catch (...) {
        return AsyncStream<GenerateContentResponse>::failed(
            GenerateContentError::internalError(currentError()).clone());
    }
    AsyncStream<GenerateContentResponse> transport =
        geminiService().loadRequestStream(makeRequest(std::move(contents), true));
    // The checks run as the consumer pulls each chunk, in the consumer's task.
    return transport.checked(checkGenerateContentResponse, [](const ErrorPtr& error) -> ErrorPtr {
        return generateContentError(error).clone();
    });
}

QCoro::Task<CountTokensResponse> GenerativeModel::countTokens(ContentsProducer contents) const
{
    return count(*this, std::move(contents));
}

QCoro::Task<CountTokensResponse> GenerativeModel::count(GenerativeModel model, ContentsProducer producer)
{
    QList<ModelContent> contents;
    try {
        contents = producer();
    } catch (...) {
        throw CountTokensError::internalError(currentError());
    }
    CountTokensRequest request{model.modelResourceName(), model.makeRequest(std::move(contents), false),
                               model.requestOptions()};
    QCoro::Task<CountTokensResponse> load = model.geminiService().loadRequest(std::move(request));
    CountTokensResponse response;
    ErrorPtr failure;
    try {
        response = co_await load;
    } catch (...) {
        failure = currentError();
    }
    if (failure)
        throw CountTokensError::internalError(failure);
    co_return response;
}

std::shared_ptr<Chat> GenerativeModel::startChat(QList<ModelContent> history) const
{
    return std::make_shared<Chat>(Chat::Key(), *this, std::move(history));
}

} // namespace gemini
