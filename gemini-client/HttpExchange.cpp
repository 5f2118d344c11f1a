#include "HttpExchange.h"

#include "gemini-client/ErrorTexts.h"
#include "gemini-client/Logging.h"
#include "platform/OneShotBody.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <cmath>
#include <limits>

namespace gemini::detail {

namespace {

std::atomic<int> liveExchanges{0};

// Qt names an HTTP error status with an error code of its own; the body of
// such an answer is whole. Any other error, also one that comes after the
// status arrived, means the exchange broke off and the body is incomplete.
bool isTransportFailure(QNetworkReply::NetworkError error, int status)
{
    if (error == QNetworkReply::NoError)
        return false;
    if (status < 400)
        return true;
    switch (error) {
    case QNetworkReply::ContentAccessDenied:
    case QNetworkReply::ContentOperationNotPermittedError:
    case QNetworkReply::ContentNotFoundError:
    case QNetworkReply::AuthenticationRequiredError:
    case QNetworkReply::ContentConflictError:
    case QNetworkReply::ContentGoneError:
    case QNetworkReply::UnknownContentError:
    case QNetworkReply::ProtocolInvalidOperationError:
    case QNetworkReply::ProxyAuthenticationRequiredError:
    case QNetworkReply::InternalServerError:
    case QNetworkReply::OperationNotImplementedError:
    case QNetworkReply::ServiceUnavailableError:
    case QNetworkReply::UnknownServerError:
        return false;
    default:
        return true;
    }
}

} // namespace

void HttpExchange::start(QNetworkAccessManager* session, const QNetworkRequest& request, const QByteArray& body,
                         double idleTimeoutSeconds, std::unique_ptr<ExchangeSink> sink)
{
    QNetworkRequest once = request;
    once.setHeader(QNetworkRequest::ContentLengthHeader, body.size());
    once.setAttribute(QNetworkRequest::DoNotBufferUploadDataAttribute, true);
    auto* device = new platform::OneShotBody(body);
    QNetworkReply* reply = session->post(once, device);
    device->setParent(reply);
    new HttpExchange(reply, idleTimeoutSeconds, std::move(sink));
}

HttpExchange::HttpExchange(QNetworkReply* reply, double idleTimeoutSeconds, std::unique_ptr<ExchangeSink> sink)
    : QObject(reply)
    , reply_(reply)
    , sink_(std::move(sink))
{
    ++liveExchanges;
    const auto restartIdleTimer = [this] {
        if (idleTimer_.isActive())
            idleTimer_.start();
    };
    connect(reply_, &QNetworkReply::readyRead, this, [this, restartIdleTimer] {
        restartIdleTimer();
        if (!done_ && ensureResponse())
            readAvailable();
    });
    connect(reply_, &QNetworkReply::metaDataChanged, this, restartIdleTimer);
    connect(reply_, &QNetworkReply::uploadProgress, this, restartIdleTimer);
    connect(reply_, &QNetworkReply::downloadProgress, this, restartIdleTimer);
    connect(reply_, &QNetworkReply::finished, this, &HttpExchange::finished);

    // A timeout that is zero, negative or not a number never means "wait
    // forever": the platform's default stands in for it.
    if (!(std::isfinite(idleTimeoutSeconds) && idleTimeoutSeconds > 0))
        idleTimeoutSeconds = defaultIdleTimeoutSeconds;
    const double ms = std::ceil(idleTimeoutSeconds * 1000.0);
    idleTimer_.setSingleShot(true);
    idleTimer_.setTimerType(Qt::PreciseTimer);
    idleTimer_.setInterval(ms >= double(std::numeric_limits<int>::max()) ? std::numeric_limits<int>::max() : int(ms));
    connect(&idleTimer_, &QTimer::timeout, this, &HttpExchange::idleTimeout);
    idleTimer_.start();
}

HttpExchange::~HttpExchange()
{
    --liveExchanges;
    // The reply went away under us: its network session was destroyed.
    if (!done_)
        sink_->fail(std::make_shared<LibraryError>(QString::fromUtf8(texts::sessionGone)));
}

std::atomic<double> HttpExchange::defaultIdleTimeoutSeconds{60};

int HttpExchange::liveCount()
{
    return liveExchanges.load();
}

bool HttpExchange::ensureResponse()
{
    if (responded_)
        return true;
    const QVariant status = reply_->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid())
        return false;
    responded_ = true;
    sink_->response(status.toInt(), reply_->url());
    return true;
}

void HttpExchange::readAvailable()
{
    const QByteArray bytes = reply_->readAll();
    if (!bytes.isEmpty() && !sink_->body(bytes))
        stop();
}

void HttpExchange::finished()
{
    if (done_)
        return;
    idleTimer_.stop();
    reply_->deleteLater();
    const QNetworkReply::NetworkError error = reply_->error();
    const QVariant statusAttribute = reply_->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const int status = statusAttribute.isValid() ? statusAttribute.toInt() : 0;

    if (timedOut_) {
        done_ = true;
        sink_->fail(std::make_shared<NetworkError>(NetworkError::Kind::timedOut, int(error),
                                                   QString::fromUtf8(texts::timedOut)));
        return;
    }
    if (isTransportFailure(error, status)) {
        done_ = true;
        if (responded_) {
            sink_->fail(std::make_shared<NetworkError>(
                NetworkError::Kind::connectionLost, int(error),
                QString::fromUtf8(texts::connectionLost) + QStringLiteral(": ") + reply_->errorString()));
        } else {
            sink_->fail(std::make_shared<NetworkError>(NetworkError::Kind::failed, int(error), reply_->errorString()));
        }
        return;
    }
    if (!ensureResponse()) {
        done_ = true;
        Logging::defaultLogger().error(QStringLiteral("[GeminiClient] Response wasn't an HTTP response, internal error %1")
                                           .arg(reply_->url().toString()));
        sink_->fail(std::make_shared<LibraryError>(QString::fromUtf8(texts::notAnHttpResponse)));
        return;
    }
    readAvailable();
    if (done_)
        return;
    done_ = true;
    sink_->end();
}

void HttpExchange::idleTimeout()
{
    if (done_)
        return;
    timedOut_ = true;
    reply_->abort();
}

void HttpExchange::stop()
{
    done_ = true;
    idleTimer_.stop();
    reply_->deleteLater();
    reply_->abort();
}

} // namespace gemini::detail
