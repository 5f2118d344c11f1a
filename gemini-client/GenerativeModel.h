#pragma once

#include "gemini-client/AsyncStream.h"
#include "gemini-client/CountTokensRequest.h"
#include "gemini-client/FunctionCalling.h"
#include "gemini-client/GeminiService.h"
#include "gemini-client/GenerateContentError.h"
#include "gemini-client/GenerateContentRequest.h"
#include "gemini-client/GenerateContentResponse.h"
#include "gemini-client/GenerationConfig.h"
#include "gemini-client/ModelContent.h"
#include "gemini-client/RequestOptions.h"
#include "gemini-client/Safety.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <qcorotask.h>

#include <functional>
#include <memory>
#include <optional>

class QNetworkAccessManager;

namespace gemini {

class Chat;

// Makes the contents of a call; run once, at the start of the call. It may throw.
using ContentsProducer = std::function<QList<ModelContent>()>;

// A client of one model with one API key, and the settings that go into every
// request. It is immutable: each call is independent, copies are cheap and
// share everything, and a call in flight keeps what it needs alive.
//
// Calls may start on any thread, the thread pool's and threads Qt did not
// start included; the network work and the wake-ups of a call run in the
// event loop of the thread that started it, so that thread must wait in an
// event loop (co_await from a coroutine, QEventLoop, QCoro::waitFor).
class GenerativeModel {
public:
    // Without a session, calls use their thread's shared session.
    GenerativeModel(QString name, QString apiKey, std::optional<GenerationConfig> generationConfig,
                    std::optional<QList<SafetySetting>> safetySettings, std::optional<QList<Tool>> tools,
                    std::optional<ToolConfig> toolConfig, std::optional<ModelContent> systemInstruction,
                    RequestOptions requestOptions, QNetworkAccessManager* urlSession = nullptr);
    // The system instruction as strings: one text part each, in one content of
    // role "system" (with no parts when the list is empty).
    GenerativeModel(QString name, QString apiKey, std::optional<GenerationConfig> generationConfig,
                    std::optional<QList<SafetySetting>> safetySettings, std::optional<QList<Tool>> tools,
                    std::optional<ToolConfig> toolConfig, const QStringList& systemInstruction,
                    RequestOptions requestOptions, QNetworkAccessManager* urlSession = nullptr);

    // "models/<name>", or the name itself when it holds a "/".
    const QString& modelResourceName() const;
    const GeminiService& geminiService() const;
    const std::optional<GenerationConfig>& generationConfig() const;
    const std::optional<QList<SafetySetting>>& safetySettings() const;
    const std::optional<QList<Tool>>& tools() const;
    const std::optional<ToolConfig>& toolConfig() const;
    const std::optional<ModelContent>& systemInstruction() const;
    const RequestOptions& requestOptions() const;

    // The parts of all arguments, in order, go out as one content of role "user".
    template <ThrowingPartsRepresentable... Ts>
    QCoro::Task<GenerateContentResponse> generateContent(const Ts&... parts) const
    {
        return generateContent(userContents(parts...));
    }
    // Throws GenerateContentError only.
    QCoro::Task<GenerateContentResponse> generateContent(ContentsProducer contents) const;

    template <ThrowingPartsRepresentable... Ts>
    AsyncStream<GenerateContentResponse> generateContentStream(const Ts&... parts) const
    {
        return generateContentStream(userContents(parts...));
    }
    // Returns at once; the stream fails with GenerateContentError only, and
    // checks each chunk as it is pulled.
    AsyncStream<GenerateContentResponse> generateContentStream(ContentsProducer contents) const;

    template <ThrowingPartsRepresentable... Ts>
    QCoro::Task<CountTokensResponse> countTokens(const Ts&... parts) const
    {
        return countTokens(userContents(parts...));
    }
    // Throws CountTokensError only.
    QCoro::Task<CountTokensResponse> countTokens(ContentsProducer contents) const;

    // Nothing is sent until the chat's first message.
    std::shared_ptr<Chat> startChat(QList<ModelContent> history = {}) const;

    // Any error as the generation calls report it.
    static GenerateContentError generateContentError(const ErrorPtr& error);

    // Converts the parts now, so the arguments need not outlive the call; a
    // conversion failure is thrown when the producer runs.
    template <ThrowingPartsRepresentable... Ts>
    static ContentsProducer userContents(const Ts&... parts)
    {
        try {
            QList<ModelContent> contents{ModelContent(QStringLiteral("user"), parts...)};
            return [contents] { return contents; };
        } catch (...) {
            ErrorPtr error = currentError();
            return [error]() -> QList<ModelContent> {
                error->raise();
                return {};
            };
        }
    }

private:
    struct State;

    GenerateContentRequest makeRequest(QList<ModelContent> contents, bool isStreaming) const;

    static QCoro::Task<GenerateContentResponse> generate(GenerativeModel model, ContentsProducer contents);
    static QCoro::Task<CountTokensResponse> count(GenerativeModel model, ContentsProducer contents);

    std::shared_ptr<const State> state_;
};

// Throws promptBlocked when the prompt feedback names a block reason, and
// responseStoppedEarly when the first candidate finished for any reason
// other than "STOP".
void checkGenerateContentResponse(const GenerateContentResponse& response);

} // namespace gemini
