#include "ProviderHttp.h"

#include "Vellox/rewrite/ProviderAIError.h"
#include "Vellox/rewrite/ProviderTransportError.h"
#include "gemini-client/NetworkSession.h"
#include "platform/OneShotBody.h"

#include <QIODevice>
#include <QCoroNetworkReply>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QStringDecoder>

#include <algorithm>
#include <cstring>
#include <memory>

namespace ProviderHttp {

QCoro::Task<Answer> send(QNetworkRequest request, QByteArray method, QByteArray body,
                         std::chrono::milliseconds timeout)
{
    request.setTransferTimeout(int(timeout.count()));
    // A redirect would carry the key to a place the user never configured;
    // it comes back as its status instead.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    // One exchange, never repeated behind our back.
    request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
    QNetworkAccessManager* session = gemini::sharedNetworkAccessManager();
    // Also a probe goes out once: a repeated one could hide that the first
    // got no answer.
    request.setHeader(QNetworkRequest::ContentLengthHeader, body.size());
    request.setAttribute(QNetworkRequest::DoNotBufferUploadDataAttribute, true);
    auto* payload = new platform::OneShotBody(body);
    QNetworkReply* raw = session->sendCustomRequest(request, method, payload);
    payload->setParent(raw);
    std::unique_ptr<QNetworkReply, void (*)(QNetworkReply*)> reply(raw, [](QNetworkReply* r) { r->deleteLater(); });
    auto tooLarge = std::make_shared<bool>(false);
    QObject::connect(raw, &QNetworkReply::downloadProgress, raw, [raw, tooLarge](qint64 received, qint64) {
        if (received > kMaxAnswerBytes && !*tooLarge) {
            *tooLarge = true;
            raw->abort();
        }
    });
    co_await qCoro(raw).waitForFinished(std::chrono::milliseconds(-1));
    if (*tooLarge)
        throw ProviderAIError::badResponse();
    const QVariant status = raw->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    // A success whose body the connection cut short carries only part of the
    // answer, which would read as an empty or a shortened rewrite: it is the
    // connection that failed.
    const bool success = status.isValid() && status.toInt() >= 200 && status.toInt() <= 299;
    if (status.isValid() && !(success && raw->error() != QNetworkReply::NoError)) {
        Answer answer;
        answer.status = status.toInt();
        answer.body = raw->readAll();
        co_return answer;
    }
    if (raw->error() != QNetworkReply::NoError)
        throw ProviderTransportError(int(raw->error()), raw->errorString());
    throw ProviderAIError::badResponse();
}

QString bodyText(const QByteArray& body)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder(body);
    if (decoder.hasError())
        return QStringLiteral("Request failed");
    return text;
}

} // namespace ProviderHttp
