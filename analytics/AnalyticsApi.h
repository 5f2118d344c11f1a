#pragma once

#include "analytics/AnalyticsEvent.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QUrl>
#include <QUrlQuery>
#include <QVariantMap>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class QThread;

namespace analytics {

class AnalyticsConfig;

// The outcome of one upload.
struct AnalyticsBatchUploadInfo {
    // The HTTP status; nothing when no answer came.
    std::optional<int> statusCode;
    // The transport error, when the request failed on the way.
    std::optional<QString> error;
    // The server's Retry-After, in seconds, when it sent one.
    std::optional<qint64> retryAfterSeconds;
    // The request could not be built here (URL, body, compression): sending
    // the same batch again cannot succeed.
    bool notSent = false;
};

// A flags or remote-configuration answer outside 2xx; the description ends
// with where it was raised.
struct InternalAnalyticsError {
    QString description;
};

// The client's only HTTP client: gzip uploads of event batches and replay
// snapshots, the flags request and the remote-configuration document. Every
// request runs on the client's own network thread; completions are called
// there, except for requests that cannot be built, which complete at once on
// the caller's thread. Answers are bounded in size.
class AnalyticsApi {
public:
    // Every request ends by then, answered or not.
    static constexpr int defaultTimeout = 10; // seconds
    // The service's cloud hosts; the assets hosts serve remote configuration.
    static constexpr const char* kUsAssetsHost = "https://us-assets.vellox-cdn.io";
    static constexpr const char* kEuAssetsHost = "https://eu-assets.vellox-cdn.io";

    using UploadCompletion = std::function<void(const AnalyticsBatchUploadInfo&)>;
    using JsonCompletion = std::function<void(const std::optional<QVariantMap>& json, const std::optional<QString>& error)>;

    explicit AnalyticsApi(std::shared_ptr<AnalyticsConfig> config);
    ~AnalyticsApi();
    AnalyticsApi(const AnalyticsApi&) = delete;
    AnalyticsApi& operator=(const AnalyticsApi&) = delete;

    void batch(const QList<AnalyticsEvent>& events, UploadCompletion completion);
    void snapshot(const QList<AnalyticsEvent>& events, UploadCompletion completion);
    void flags(const QString& distinctId, const std::optional<QString>& anonymousId,
               const std::optional<QString>& deviceId, const QMap<QString, QString>& groups,
               const QVariantMap& personProperties, const std::optional<QMap<QString, QVariantMap>>& groupProperties,
               JsonCompletion completion);
    // A request that cannot be built completes at once with neither a map
    // nor an error, so a caller waiting on it is never left waiting.
    void remoteConfig(JsonCompletion completion);

    // Shortens the deadline of later requests (tests of slow servers).
    void setRequestDeadline(std::chrono::milliseconds deadline) { requestDeadlineMs_ = int(deadline.count()); }

    // The base URL's path + "/" + path, runs of slashes collapsed.
    static std::optional<QUrl> endpointURL(const QString& path, const QUrlQuery& query, const QUrl& base);
    // The host remote configuration comes from for an ingestion host.
    static QUrl remoteConfigHost(const QUrl& ingestionHost);
    // The uncompressed upload bodies.
    QByteArray batchBody(const QList<AnalyticsEvent>& events) const;
    static QByteArray batchBody(const QString& projectToken, const QList<AnalyticsEvent>& events);
    static QByteArray snapshotBody(const QList<AnalyticsEvent>& events);

private:
    class Worker;
    void upload(bool isSnapshot, const QList<AnalyticsEvent>& events, UploadCompletion completion);

    struct Network;
    // Hands `job` to the network thread, unless that has been stopped.
    template <typename Job>
    void dispatch(Job&& job);

    std::shared_ptr<AnalyticsConfig> config_;
    std::shared_ptr<Network> network_;
    Worker* worker_ = nullptr; // lives on the network thread
    std::atomic<int> requestDeadlineMs_{defaultTimeout * 1000};
};

} // namespace analytics
