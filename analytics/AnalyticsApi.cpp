#include "AnalyticsApi.h"

#include "analytics/AnalyticsConfig.h"
#include "analytics/AnalyticsLog.h"
#include "analytics/AnalyticsStorage.h"
#include "analytics/Gzip.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRegularExpression>
#include <QThread>
#include <QTimer>
#include <QTimeZone>

#include <mutex>
#include <thread>
#include <vector>

namespace analytics {

namespace {

// Answers are bounded. Of an upload's answer only the start is read, for the
// log line; the flags and configuration documents are small, and a larger one
// is refused.
struct AnswerLimit {
    enum class Kind { Prefix, Document };
    Kind kind;
    qint64 bytes;
};
constexpr AnswerLimit kUploadAnswer{AnswerLimit::Kind::Prefix, 64 * 1024};
constexpr AnswerLimit kDocumentAnswer{AnswerLimit::Kind::Document, 2 * 1024 * 1024};
constexpr qint64 kMaxRetryAfterSeconds = 24 * 3600;

struct Answer {
    std::optional<int> status;
    std::optional<QString> transportError;
    QByteArray body;
    bool hasBody = false;
    std::optional<qint64> retryAfter;
};

std::optional<qint64> parseRetryAfter(const QByteArray& value)
{
    const QByteArray trimmed = value.trimmed();
    if (trimmed.isEmpty())
        return std::nullopt;
    bool ok = false;
    const qint64 seconds = trimmed.toLongLong(&ok);
    if (ok)
        return seconds < 0 ? std::nullopt : std::optional<qint64>(std::min(seconds, kMaxRetryAfterSeconds));
    const QDateTime when = QDateTime::fromString(QString::fromLatin1(trimmed), Qt::RFC2822Date);
    if (!when.isValid())
        return std::nullopt;
    const qint64 delta = QDateTime::currentDateTimeUtc().secsTo(when);
    return std::clamp<qint64>(delta, 0, kMaxRetryAfterSeconds);
}

// The answer body as a map for a log line: "nil" when it is not a JSON object.
std::optional<QVariantMap> decodeMap(const QByteArray& body)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return std::nullopt;
    return doc.object().toVariantMap();
}

QString describe(const std::optional<QVariantMap>& map)
{
    if (!map)
        return QStringLiteral("nil");
    return QString::fromUtf8(QJsonDocument(QJsonObject::fromVariantMap(*map)).toJson(QJsonDocument::Compact));
}

// Any JSON value, fragments included: a document that is not an object is
// an answer of the wrong shape, not a decoding error.
struct Decoded {
    std::optional<QVariantMap> map;
    std::optional<QString> error;
};

Decoded decodeDocument(const QByteArray& body)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson("[" + body + "]", &error);
    if (error.error != QJsonParseError::NoError || doc.array().size() != 1)
        return {std::nullopt, error.error != QJsonParseError::NoError ? error.errorString() : QStringLiteral("not one JSON value")};
    const QJsonValue value = doc.array().at(0);
    if (!value.isObject())
        return {};
    return {value.toObject().toVariantMap(), std::nullopt};
}

// Error texts that already end a sentence get no second full stop.
QString withFullStop(const QString& text)
{
    return text.endsWith(QLatin1Char('.')) ? text : text + QLatin1Char('.');
}

QString sourceLocation(int line)
{
    return QFileInfo(QStringLiteral(__FILE__)).fileName() + QLatin1Char(':') + QString::number(line);
}

} // namespace

class AnalyticsApi::Worker : public QObject {
public:
    using Handler = std::function<void(const Answer&)>;

    void send(QNetworkRequest request, QByteArray method, QByteArray body, AnswerLimit limit, int deadlineMs,
              std::optional<QNetworkProxy> proxy, Handler handler)
    {
        if (!nam_)
            nam_ = new QNetworkAccessManager(this);
        nam_->setProxy(proxy.value_or(QNetworkProxy(QNetworkProxy::DefaultProxy)));
        QNetworkReply* reply = method == "GET" ? nam_->get(request) : nam_->post(request, body);

        struct Exchange {
            QByteArray body;
            bool overLimit = false;
            bool pastDeadline = false;
        };
        auto exchange = std::make_shared<Exchange>();
        // Reads what has come so far, keeping at most the limit; past it the
        // rest is not worth waiting for.
        auto readBounded = [reply, exchange, limit] {
            if (exchange->overLimit)
                return;
            while (reply->bytesAvailable() > 0) {
                const qint64 room = limit.bytes - exchange->body.size();
                if (room <= 0) {
                    exchange->overLimit = true;
                    reply->abort();
                    return;
                }
                exchange->body += reply->read(std::min(room, reply->bytesAvailable()));
            }
        };
        connect(reply, &QNetworkReply::readyRead, reply, readBounded);

        // Qt's own time-out only notices silence; a server that keeps sending
        // a byte now and then would hold the request, and with it the queue's
        // only upload, for as long as it likes.
        auto* deadline = new QTimer(reply);
        deadline->setSingleShot(true);
        connect(deadline, &QTimer::timeout, reply, [reply, exchange] {
            exchange->pastDeadline = true;
            reply->abort();
        });
        deadline->start(deadlineMs);

        connect(reply, &QNetworkReply::finished, reply,
                [reply, exchange, limit, deadline, deadlineMs, readBounded, handler = std::move(handler)] {
                    deadline->stop();
                    readBounded();
                    Answer answer;
                    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
                    // A document must arrive whole; an upload's status alone
                    // says what became of the batch, the body only feeds the
                    // log line.
                    const bool whole = !exchange->overLimit && !exchange->pastDeadline;
                    if (status.isValid() && (whole || limit.kind == AnswerLimit::Kind::Prefix)) {
                        answer.status = status.toInt();
                        answer.body = exchange->body;
                        answer.hasBody = true;
                        if (reply->hasRawHeader("Retry-After"))
                            answer.retryAfter = parseRetryAfter(reply->rawHeader("Retry-After"));
                    } else if (exchange->overLimit) {
                        answer.transportError = QStringLiteral("The answer is larger than the client accepts.");
                    } else if (exchange->pastDeadline) {
                        answer.transportError = QStringLiteral("No complete answer within %1 s.").arg(deadlineMs / 1000.0);
                    } else {
                        // No HTTP answer at all is a transport failure too.
                        answer.transportError = reply->errorString();
                    }
                    reply->deleteLater();
                    handler(answer);
                });
    }

private:
    QNetworkAccessManager* nam_ = nullptr;
};

// The network thread, and whether it still takes requests.
struct AnalyticsApi::Network {
    std::mutex lock;
    bool stopped = false;
    std::unique_ptr<QThread> thread;
};

namespace {

// Qt's networking reads the application object's state, so a request that
// starts after that object is gone reads freed memory. A program may return
// from main while a client is still at work, and its clients may live to the
// end of the process: every network thread stops with the application object.
// What was on its way stays queued on disk for the next start.
std::mutex& networksLock()
{
    static auto* lock = new std::mutex;
    return *lock;
}

std::vector<std::weak_ptr<void>>& networks()
{
    static auto* all = new std::vector<std::weak_ptr<void>>;
    return *all;
}

} // namespace

AnalyticsApi::AnalyticsApi(std::shared_ptr<AnalyticsConfig> config)
    : config_(std::move(config))
    , network_(std::make_shared<Network>())
    , worker_(new Worker)
{
    network_->thread = std::make_unique<QThread>();
    QThread* thread = network_->thread.get();
    thread->setObjectName(QStringLiteral("app.vellox.analytics.network"));
    worker_->moveToThread(thread);
    QObject::connect(thread, &QThread::finished, worker_, &QObject::deleteLater);
    thread->start();

    std::lock_guard lock(networksLock());
    std::erase_if(networks(), [](const std::weak_ptr<void>& network) { return network.expired(); });
    networks().push_back(std::static_pointer_cast<void>(network_));
    // Post routines run once, with the application object they were added
    // under; a later one gets its own.
    static QCoreApplication* stopsWith = nullptr;
    if (QCoreApplication* app = QCoreApplication::instance(); app && app != stopsWith) {
        stopsWith = app;
        qAddPostRoutine([] {
            std::vector<std::shared_ptr<Network>> running;
            {
                std::lock_guard lock(networksLock());
                for (const std::weak_ptr<void>& weak : networks()) {
                    if (auto network = std::static_pointer_cast<Network>(weak.lock()))
                        running.push_back(std::move(network));
                }
                networks().clear();
                stopsWith = nullptr;
            }
            for (const auto& network : running) {
                {
                    std::lock_guard lock(network->lock);
                    network->stopped = true;
                }
                network->thread->quit();
                network->thread->wait();
            }
        });
    }
}

AnalyticsApi::~AnalyticsApi()
{
    QThread* thread = network_->thread.get();
    thread->quit();
    if (QThread::currentThread() != thread) {
        thread->wait();
        return;
    }
    // The last owner let go inside an answer handler, on the network thread
    // itself, which cannot wait for its own end. It ends once the handler
    // returns; a short-lived joiner waits for that and frees it.
    std::thread([network = network_] { network->thread->wait(); }).detach();
}

template <typename Job>
void AnalyticsApi::dispatch(Job&& job)
{
    // Under the lock, so the worker cannot go with its thread meanwhile.
    std::lock_guard lock(network_->lock);
    if (network_->stopped)
        return;
    QMetaObject::invokeMethod(worker_, std::forward<Job>(job), Qt::QueuedConnection);
}

std::optional<QUrl> AnalyticsApi::endpointURL(const QString& path, const QUrlQuery& query, const QUrl& base)
{
    if (!base.isValid())
        return std::nullopt;
    QUrl url = base;
    static const QRegularExpression slashes(QStringLiteral("/+"));
    QString joined = base.path() + QLatin1Char('/') + path;
    joined.replace(slashes, QStringLiteral("/"));
    url.setPath(joined);
    url.setQuery(query);
    if (!url.isValid())
        return std::nullopt;
    return url;
}

QUrl AnalyticsApi::remoteConfigHost(const QUrl& ingestionHost)
{
    const QString text = ingestionHost.toString();
    if (text == QLatin1String(AnalyticsConfig::kDefaultHost))
        return QUrl(QString::fromLatin1(kUsAssetsHost));
    if (text == QLatin1String(AnalyticsConfig::kEuHost))
        return QUrl(QString::fromLatin1(kEuAssetsHost));
    return ingestionHost;
}

QByteArray AnalyticsApi::batchBody(const QList<AnalyticsEvent>& events) const
{
    return batchBody(config_->projectToken(), events);
}

QByteArray AnalyticsApi::batchBody(const QString& projectToken, const QList<AnalyticsEvent>& events)
{
    QJsonArray batch;
    for (const AnalyticsEvent& event : events)
        batch.append(event.toJsonObject());
    const QJsonObject body{
        {QStringLiteral("api_key"), projectToken},
        {QStringLiteral("batch"), batch},
        {QStringLiteral("sent_at"), toISO8601String(QDateTime::currentDateTimeUtc())},
    };
    return QJsonDocument(body).toJson(QJsonDocument::Compact);
}

QByteArray AnalyticsApi::snapshotBody(const QList<AnalyticsEvent>& events)
{
    QJsonArray body;
    for (const AnalyticsEvent& event : events)
        body.append(event.toJsonObject());
    return QJsonDocument(body).toJson(QJsonDocument::Compact);
}

namespace {

QNetworkRequest makeRequest(const QUrl& url, const AnalyticsConfig& config, bool gzip)
{
    QNetworkRequest request(url);
    // 3xx is the queue's to judge (a retry), not the network layer's to follow.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    if (const auto& session = config.urlSessionConfiguration())
        for (const auto& [name, value] : session->additionalHeaders)
            request.setRawHeader(name, value);
    request.setRawHeader("Content-Type", "application/json; charset=utf-8");
    request.setRawHeader("User-Agent", (analyticsSdkName() + QLatin1Char('/') + analyticsVersion()).toUtf8());
    if (gzip) {
        request.setRawHeader("Accept-Encoding", "gzip");
        request.setRawHeader("Content-Encoding", "gzip");
    }
    return request;
}

std::optional<QNetworkProxy> proxyOf(const AnalyticsConfig& config)
{
    const auto& session = config.urlSessionConfiguration();
    return session ? session->proxy : std::nullopt;
}

} // namespace

void AnalyticsApi::batch(const QList<AnalyticsEvent>& events, UploadCompletion completion)
{
    upload(false, events, std::move(completion));
}

void AnalyticsApi::snapshot(const QList<AnalyticsEvent>& events, UploadCompletion completion)
{
    upload(true, events, std::move(completion));
}

void AnalyticsApi::upload(bool isSnapshot, const QList<AnalyticsEvent>& events, UploadCompletion completion)
{
    const QString what = isSnapshot ? QStringLiteral("snapshot") : QStringLiteral("batch");
    AnalyticsBatchUploadInfo failed;
    failed.notSent = true;

    const auto url = endpointURL(isSnapshot ? config_->snapshotEndpoint() : QStringLiteral("/batch"), {}, config_->host());
    if (!url) {
        analyticsLog(QStringLiteral("[Analytics] Malformed ") + what + QStringLiteral(" URL error."));
        completion(failed);
        return;
    }
    const QByteArray body = isSnapshot ? snapshotBody(events) : batchBody(events);
    if (body.isEmpty()) {
        analyticsLog(QStringLiteral("[Analytics] Error parsing the ") + what + QStringLiteral(" body"));
        completion(failed);
        return;
    }
    QByteArray compressed;
    try {
        compressed = gzipped(body);
    } catch (const GzipError& error) {
        analyticsLog(QStringLiteral("Error gzipping the ") + what + QStringLiteral(" body: ") + error.message +
                     QStringLiteral("."));
        completion(failed);
        return;
    }

    QNetworkRequest request = makeRequest(*url, *config_, true);
    dispatch(
        [worker = worker_, request, compressed, proxy = proxyOf(*config_), what, deadline = requestDeadlineMs_.load(),
         completion = std::move(completion)]() mutable {
            worker->send(request, "POST", compressed, kUploadAnswer, deadline, proxy,
                         [what, completion = std::move(completion)](const Answer& answer) {
                             AnalyticsBatchUploadInfo info;
                             if (answer.transportError) {
                                 analyticsLog(QStringLiteral("Error calling the ") + what + QStringLiteral(" API: ") +
                                              withFullStop(*answer.transportError));
                                 info.error = answer.transportError;
                                 completion(info);
                                 return;
                             }
                             info.statusCode = answer.status;
                             info.retryAfterSeconds = answer.retryAfter;
                             const int status = *answer.status;
                             if (status >= 200 && status <= 299) {
                                 analyticsLog(what == QLatin1String("batch")
                                                  ? QStringLiteral("[Analytics] Events sent successfully.")
                                                  : QStringLiteral("[Analytics] Snapshots sent successfully."));
                             } else {
                                 analyticsLog(QStringLiteral("Error sending events to ") + what +
                                              QStringLiteral(" API: status: ") + QString::number(status) +
                                              QStringLiteral(", body: ") + describe(decodeMap(answer.body)) +
                                              QStringLiteral("."));
                             }
                             completion(info);
                         });
        });
}

void AnalyticsApi::flags(const QString& distinctId, const std::optional<QString>& anonymousId,
                         const std::optional<QString>& deviceId, const QMap<QString, QString>& groups,
                         const QVariantMap& personProperties,
                         const std::optional<QMap<QString, QVariantMap>>& groupProperties, JsonCompletion completion)
{
    const auto url = endpointURL(QStringLiteral("/flags"), QUrlQuery{{QStringLiteral("v"), QStringLiteral("2")}},
                                 config_->host());
    if (!url) {
        analyticsLog(QStringLiteral("[Analytics] Malformed flags URL error."));
        completion(std::nullopt, std::nullopt);
        return;
    }
    QJsonObject groupsJson;
    for (auto it = groups.cbegin(); it != groups.cend(); ++it)
        groupsJson.insert(it.key(), it.value());
    QJsonObject body{
        {QStringLiteral("api_key"), config_->projectToken()},
        {QStringLiteral("distinct_id"), distinctId},
        {QStringLiteral("groups"), groupsJson},
        {QStringLiteral("timezone"), QString::fromUtf8(QTimeZone::systemTimeZoneId())},
    };
    if (anonymousId)
        body.insert(QStringLiteral("$anon_distinct_id"), *anonymousId);
    if (deviceId)
        body.insert(QStringLiteral("$device_id"), *deviceId);
    if (!personProperties.isEmpty()) {
        if (!isValidObject(personProperties)) {
            analyticsLog(QStringLiteral("[Analytics] Error parsing the flags body"));
            completion(std::nullopt, std::nullopt);
            return;
        }
        body.insert(QStringLiteral("person_properties"), QJsonObject::fromVariantMap(personProperties));
    }
    if (groupProperties && !groupProperties->isEmpty()) {
        QJsonObject json;
        for (auto it = groupProperties->cbegin(); it != groupProperties->cend(); ++it) {
            if (!isValidObject(it.value())) {
                analyticsLog(QStringLiteral("[Analytics] Error parsing the flags body"));
                completion(std::nullopt, std::nullopt);
                return;
            }
            json.insert(it.key(), QJsonObject::fromVariantMap(it.value()));
        }
        body.insert(QStringLiteral("group_properties"), json);
    }
    if (const auto& contexts = config_->evaluationContexts(); contexts && !contexts->isEmpty())
        body.insert(QStringLiteral("evaluation_contexts"), QJsonArray::fromStringList(*contexts));

    QNetworkRequest request = makeRequest(*url, *config_, false);
    const QByteArray bytes = QJsonDocument(body).toJson(QJsonDocument::Compact);
    dispatch(
        [worker = worker_, request, bytes, proxy = proxyOf(*config_), deadline = requestDeadlineMs_.load(),
         completion = std::move(completion)]() mutable {
            worker->send(request, "POST", bytes, kDocumentAnswer, deadline, proxy,
                         [completion = std::move(completion)](const Answer& answer) {
                             if (answer.transportError) {
                                 analyticsLog(QStringLiteral("Error calling the flags API: ") + *answer.transportError);
                                 completion(std::nullopt, answer.transportError);
                                 return;
                             }
                             const int status = *answer.status;
                             if (status < 200 || status > 299) {
                                 const QString message = QStringLiteral("Error calling flags API: status: ") +
                                                         QString::number(status) + QStringLiteral(", body: ") +
                                                         describe(decodeMap(answer.body)) + QStringLiteral(".");
                                 analyticsLog(message);
                                 completion(std::nullopt, InternalAnalyticsError{message + QStringLiteral(" (") +
                                                                                 sourceLocation(__LINE__) +
                                                                                 QStringLiteral(")")}
                                                              .description);
                                 return;
                             }
                             if (answer.body.isEmpty()) {
                                 analyticsLog(QStringLiteral("[Analytics] Error parsing the flags response: no data"));
                                 completion(std::nullopt, std::nullopt);
                                 return;
                             }
                             analyticsLog(QStringLiteral("[Analytics] Flags called successfully."));
                             const Decoded decoded = decodeDocument(answer.body);
                             if (decoded.error)
                                 analyticsLog(QStringLiteral("Error parsing the flags response: ") + *decoded.error);
                             completion(decoded.map, decoded.error);
                         });
        });
}

void AnalyticsApi::remoteConfig(JsonCompletion completion)
{
    const QUrl host = remoteConfigHost(config_->host());
    const auto url = endpointURL(QStringLiteral("/array/") + config_->projectToken() + QStringLiteral("/config"), {},
                                 host);
    if (!url || config_->projectToken().isEmpty()) {
        analyticsLog(QStringLiteral("[Analytics] Error calling the remote config API: unable to create request"));
        completion(std::nullopt, std::nullopt);
        return;
    }
    QNetworkRequest request = makeRequest(*url, *config_, false);
    dispatch(
        [worker = worker_, request, proxy = proxyOf(*config_), deadline = requestDeadlineMs_.load(),
         completion = std::move(completion)]() mutable {
            worker->send(request, "GET", {}, kDocumentAnswer, deadline, proxy,
                         [completion = std::move(completion)](const Answer& answer) {
                             if (answer.transportError) {
                                 analyticsLog(QStringLiteral("Error calling the remote config API: ") +
                                              *answer.transportError);
                                 completion(std::nullopt, answer.transportError);
                                 return;
                             }
                             const int status = *answer.status;
                             if (status < 200 || status > 299) {
                                 const QString message = QStringLiteral("Error calling the remote config API: status: ") +
                                                         QString::number(status) + QStringLiteral(", body: ") +
                                                         describe(decodeMap(answer.body)) + QStringLiteral(".");
                                 analyticsLog(message);
                                 completion(std::nullopt, message + QStringLiteral(" (") + sourceLocation(__LINE__) +
                                                              QStringLiteral(")"));
                                 return;
                             }
                             if (answer.body.isEmpty()) {
                                 analyticsLog(
                                     QStringLiteral("[Analytics] Error parsing the remote config response: no data"));
                                 completion(std::nullopt, std::nullopt);
                                 return;
                             }
                             analyticsLog(QStringLiteral("[Analytics] Remote config called successfully."));
                             const Decoded decoded = decodeDocument(answer.body);
                             if (decoded.error)
                                 analyticsLog(QStringLiteral("Error parsing the remote config response: ") + *decoded.error);
                             completion(decoded.map, decoded.error);
                         });
        });
}

} // namespace analytics
