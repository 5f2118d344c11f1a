#pragma once

#include "gemini-client/AsyncStream.h"
#include "gemini-client/Error.h"
#include "gemini-client/ErrorTexts.h"
#include "gemini-client/JSONCoding.h"
#include "gemini-client/RPCError.h"
#include "gemini-client/RequestOptions.h"

#include <QByteArray>
#include <QNetworkRequest>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <qcorotask.h>

#include <concepts>

class QNetworkAccessManager;

namespace gemini {

// A request value the transport can send: it knows its answer type, its
// endpoint text and its options, and encodes its own body.
template <class R>
concept GeminiRequest = requires(const R& request, coding::Encoder& encoder) {
    typename R::Response;
    { request.url() } -> std::convertible_to<QString>;
    { request.options } -> std::convertible_to<const RequestOptions&>;
    { encodeValue(encoder, request) } -> std::same_as<coding::OrderedJson>;
};

namespace detail {
struct HttpAnswer {
    int status = 0;
    QUrl url;
    QByteArray body;
};
} // namespace detail

// The transport: turns a request into one HTTPS POST and gives back the
// decoded answer, a stream of decoded events, or the service's error.
//
// Only status 200 is success. Any other status is decoded from its body as an
// RPCError; a transport failure arrives as a NetworkError.
class GeminiService {
public:
    struct HttpRequest {
        QNetworkRequest request;
        QByteArray body;
        double timeout = 0;
    };

    // Without a session, each call uses its thread's shared session.
    explicit GeminiService(QString apiKey, QNetworkAccessManager* urlSession = nullptr);

    const QString& apiKey() const { return apiKey_; }
    // The session calls go through; null when a given session was destroyed.
    QNetworkAccessManager* urlSession() const;

    // Fails when the URL text does not parse, when the API key cannot travel
    // in a header, or when the body cannot be encoded; nothing is sent then.
    template <GeminiRequest R>
    HttpRequest urlRequest(const R& request) const
    {
        const QUrl url = requestUrl(request.url());
        coding::Encoder encoder(coding::Encoder::KeyStrategy::convertToSnakeCase);
        QByteArray body = coding::serialize(encodeValue(encoder, request));
        return makeHttpRequest(url, std::move(body), request.options.timeout);
    }

    template <GeminiRequest R>
    QCoro::Task<typename R::Response> loadRequest(R request) const
    {
        return load<R>(*this, std::move(request));
    }

    // Starts reading at once; the reading goes on to the end of the body
    // even when the consumer drops the stream.
    template <GeminiRequest R>
    AsyncStream<typename R::Response> loadRequestStream(const R& request) const;

    // Decodes an answer; on failure logs the text and the error, then throws.
    template <class T>
    static T parseResponse(QByteArrayView bytes)
    {
        try {
            return coding::decode<T>(bytes);
        } catch (const Error& error) {
            logDecodingFailure(bytes, error);
            throw;
        }
    }

    // The bytes, when they are UTF-8 text; throws otherwise.
    static QByteArray jsonData(const QByteArray& text);

private:
    struct EventHandlers {
        std::function<void(QByteArrayView)> event;
        std::function<void()> finish;
        std::function<void(ErrorPtr)> fail;
    };

    template <GeminiRequest R>
    static QCoro::Task<typename R::Response> load(GeminiService service, R request);

    static QUrl requestUrl(const QString& text);
    HttpRequest makeHttpRequest(const QUrl& url, QByteArray body, double timeout) const;
    AsyncStream<detail::HttpAnswer> send(const HttpRequest& request) const;
    void openEventStream(const HttpRequest& request, EventHandlers handlers) const;
    [[noreturn]] static void throwServerError(const detail::HttpAnswer& answer);
    static void logDecodingFailure(QByteArrayView bytes, const Error& error);

    QString apiKey_;
    QPointer<QNetworkAccessManager> session_;
    bool sharedSession_;
};

template <GeminiRequest R>
QCoro::Task<typename R::Response> GeminiService::load(GeminiService service, R request)
{
    const HttpRequest http = service.urlRequest(request);
    AsyncStream<detail::HttpAnswer> exchange = service.send(http);
    std::optional<detail::HttpAnswer> answer = co_await exchange.next();
    if (!answer)
        throw LibraryError(QString::fromUtf8(texts::unknownError));
    if (answer->status != 200)
        throwServerError(*answer);
    co_return parseResponse<typename R::Response>(answer->body);
}

template <GeminiRequest R>
AsyncStream<typename R::Response> GeminiService::loadRequestStream(const R& request) const
{
    using Response = typename R::Response;
    auto channel = std::make_shared<detail::Channel<Response>>();
    HttpRequest http;
    try {
        http = urlRequest(request);
    } catch (...) {
        channel->finish(currentError());
        return AsyncStream<Response>(channel);
    }
    openEventStream(http, EventHandlers{
                              [channel](QByteArrayView json) { channel->yield(parseResponse<Response>(json)); },
                              [channel] { channel->finish(); },
                              [channel](ErrorPtr error) { channel->finish(std::move(error)); },
                          });
    return AsyncStream<Response>(channel);
}

} // namespace gemini
