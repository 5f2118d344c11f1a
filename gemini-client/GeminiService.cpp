#include "GeminiService.h"

#include "gemini-client/ErrorTexts.h"
#include "gemini-client/EventStreamReader.h"
#include "gemini-client/GeminiClientInfo.h"
#include "gemini-client/HttpExchange.h"
#include "gemini-client/Logging.h"
#include "gemini-client/NetworkSession.h"

#include <QAbstractEventDispatcher>
#include <QEventLoop>
#include <QNetworkAccessManager>

namespace gemini {

namespace {

QString describeResponse(int status, const QUrl& url)
{
    return QStringLiteral("{ URL: %1 } { Status Code: %2 }").arg(url.toString()).arg(status);
}

void logErrorStatus(int status, const QUrl& url)
{
    Logging::network().error(
        QStringLiteral("[GeminiClient] The server responded with an error: %1").arg(describeResponse(status, url)));
}

// Collects a whole answer for a one-shot call.
class AnswerSink final : public detail::ExchangeSink {
public:
    explicit AnswerSink(std::shared_ptr<detail::Channel<detail::HttpAnswer>> channel)
        : channel_(std::move(channel))
    {
    }

    void response(int status, const QUrl& url) override
    {
        answer_.status = status;
        answer_.url = url;
    }
    bool body(QByteArrayView bytes) override
    {
        answer_.body.append(bytes);
        return true;
    }
    void end() override
    {
        channel_->yield(std::move(answer_));
        channel_->finish();
    }
    void fail(ErrorPtr error) override { channel_->finish(std::move(error)); }

private:
    std::shared_ptr<detail::Channel<detail::HttpAnswer>> channel_;
    detail::HttpAnswer answer_;
};

// Feeds a streamed answer to the event reader as it arrives.
class EventStreamSink final : public detail::ExchangeSink {
public:
    explicit EventStreamSink(detail::EventStreamReader::Handlers handlers)
        : handlers_(std::move(handlers))
    {
    }

    void response(int status, const QUrl& url) override
    {
        if (status != 200)
            logErrorStatus(status, url);
        reader_.emplace(status, std::move(handlers_));
    }
    bool body(QByteArrayView bytes) override { return reader_->feed(bytes); }
    void end() override { reader_->end(); }
    void fail(ErrorPtr error) override
    {
        if (reader_)
            reader_->fail(std::move(error));
        else
            handlers_.fail(std::move(error));
    }

private:
    detail::EventStreamReader::Handlers handlers_;
    std::optional<detail::EventStreamReader> reader_;
};

// A thread that Qt did not start gets its event dispatcher only when asked
// for one; without it the idle timer would not run and a silent server would
// hold the call forever. An event loop object asks for it.
void ensureEventDispatcher()
{
    if (!QAbstractEventDispatcher::instance())
        QEventLoop ensure;
}

bool isSafeHeaderValue(const QString& value)
{
    for (QChar c : value) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            return false;
    }
    return true;
}

} // namespace

GeminiService::GeminiService(QString apiKey, QNetworkAccessManager* urlSession)
    : apiKey_(std::move(apiKey))
    , session_(urlSession)
    , sharedSession_(urlSession == nullptr)
{
}

QNetworkAccessManager* GeminiService::urlSession() const
{
    return sharedSession_ ? sharedNetworkAccessManager() : session_.data();
}

QByteArray GeminiService::jsonData(const QByteArray& text)
{
    if (!detail::isValidUtf8(text))
        throw LibraryError(QString::fromUtf8(texts::notUtf8));
    return text;
}

QUrl GeminiService::requestUrl(const QString& text)
{
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || url.isRelative() || url.host().isEmpty())
        throw LibraryError(QString::fromUtf8(texts::invalidUrl).arg(text));
    return url;
}

GeminiService::HttpRequest GeminiService::makeHttpRequest(const QUrl& url, QByteArray body, double timeout) const
{
    // A line break in the key would let it write headers of its own.
    if (!isSafeHeaderValue(apiKey_))
        throw LibraryError(QString::fromUtf8(texts::unsafeApiKey));
    QNetworkRequest request(url);
    request.setRawHeader("x-goog-api-key", apiKey_.toUtf8());
    request.setRawHeader("x-goog-api-client", GeminiClientInfo::clientIdentification().toLatin1());
    request.setRawHeader("Content-Type", "application/json");
    // One POST per call: a redirect comes back as an error status instead of
    // carrying the key to another address.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    return HttpRequest{request, std::move(body), timeout};
}

AsyncStream<detail::HttpAnswer> GeminiService::send(const HttpRequest& request) const
{
    ensureEventDispatcher();
    auto channel = std::make_shared<detail::Channel<detail::HttpAnswer>>();
    QNetworkAccessManager* session = urlSession();
    if (!session)
        channel->finish(std::make_shared<LibraryError>(QString::fromUtf8(texts::sessionGone)));
    else
        detail::HttpExchange::start(session, request.request, request.body, request.timeout,
                                    std::make_unique<AnswerSink>(channel));
    return AsyncStream<detail::HttpAnswer>(channel);
}

void GeminiService::openEventStream(const HttpRequest& request, EventHandlers handlers) const
{
    detail::EventStreamReader::Handlers readerHandlers{std::move(handlers.event), std::move(handlers.finish),
                                                       std::move(handlers.fail)};
    ensureEventDispatcher();
    QNetworkAccessManager* session = urlSession();
    if (!session) {
        readerHandlers.fail(std::make_shared<LibraryError>(QString::fromUtf8(texts::sessionGone)));
        return;
    }
    detail::HttpExchange::start(session, request.request, request.body, request.timeout,
                                std::make_unique<EventStreamSink>(std::move(readerHandlers)));
}

void GeminiService::throwServerError(const detail::HttpAnswer& answer)
{
    logErrorStatus(answer.status, answer.url);
    if (detail::isValidUtf8(answer.body))
        Logging::defaultLogger().error(
            QStringLiteral("[GeminiClient] Response payload: %1").arg(QString::fromUtf8(answer.body)));
    throw coding::decode<RPCError>(answer.body);
}

void GeminiService::logDecodingFailure(QByteArrayView bytes, const Error& error)
{
    if (Logging::network().isEnabled() && detail::isValidUtf8(bytes))
        Logging::network().error(
            QStringLiteral("[GeminiClient] JSON response: %1").arg(QString::fromUtf8(bytes.data(), bytes.size())));
    Logging::defaultLogger().error(QStringLiteral("[GeminiClient] Error decoding server JSON: %1").arg(error.description()));
}

} // namespace gemini
