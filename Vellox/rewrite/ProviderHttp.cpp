#include "ProviderHttp.h"

#include "Vellox/rewrite/ProviderAIError.h"
#include "Vellox/rewrite/ProviderTransportError.h"
#include "gemini-client/NetworkSession.h"

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

namespace {

// A body that can be read once only. Qt's HTTP layer quietly sends a request
// again when its connection closed before any answer came; a rewrite must
// go out once (it costs the user and may act twice), so the second send
// fails instead.
class OneShotBody final : public QIODevice {
public:
    explicit OneShotBody(QByteArray bytes)
        : bytes_(std::move(bytes))
    {
        open(QIODevice::ReadOnly);
    }

    bool isSequential() const override { return true; }
    bool reset() override { return false; }
    qint64 bytesAvailable() const override { return bytes_.size() - position_ + QIODevice::bytesAvailable(); }

protected:
    qint64 readData(char* data, qint64 maxSize) override
    {
        const qint64 count = std::min<qint64>(maxSize, bytes_.size() - position_);
        if (count <= 0)
            return maxSize > 0 ? -1 : 0;
        std::memcpy(data, bytes_.constData() + position_, size_t(count));
        position_ += count;
        return count;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    QByteArray bytes_;
    qint64 position_ = 0;
};

} // namespace

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
    auto* payload = new OneShotBody(body);
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
    if (status.isValid()) {
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
