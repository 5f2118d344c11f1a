#pragma once

#include "analytics/AnalyticsFiles.h"

#include <QByteArray>
#include <QString>
#include <QVariant>

#include <array>
#include <memory>
#include <optional>

namespace analytics {

class AnalyticsConfig;

// The client's identity globals: the library name and version every event
// and request carries. The name is this Linux client's own.
QString analyticsSdkName();
void setAnalyticsSdkName(const QString& name);
QString analyticsVersion();
void setAnalyticsVersion(const QString& version);
inline constexpr const char* kAnalyticsDefaultSdkName = "analytics-linux";
inline constexpr const char* kAnalyticsDefaultVersion = "3.57.3";
// The default name, against which callers test whether a wrapper SDK renamed it.
inline constexpr const char* analyticsiOSSdkName = kAnalyticsDefaultSdkName;

// The text as a decimal integer (qlonglong) when it is one, else the text.
QVariant parseBundleVersion(const QString& text);
// Milliseconds since 1970, truncated toward zero.
qint64 dateToMillis(const QDateTime& date);

// One file per named key inside the project's folder
// ($XDG_DATA_HOME/<bundle identifier>/<project token>), holding small JSON
// values. No cache and no lock: every call goes to the file system on the
// caller's thread. Every write replaces the file atomically.
class AnalyticsStorage {
public:
    enum class StorageKey {
        distinctId,
        anonymousId,
        queue,
        oldQueueFolder,
        oldQueuePlist,
        replayQeueue,
        replayBufferQueue,
        enabledFeatureFlags,
        enabledFeatureFlagPayloads,
        flags,
        groups,
        registerProperties,
        optOut,
        sessionReplay,
        isIdentified,
        personProcessingEnabled,
        remoteConfig,
        surveySeen,
        lastSeenSurveyDate,
        requestId,
        evaluatedAt,
        personPropertiesForFlags,
        groupPropertiesForFlags,
        errorTracking,
        deviceId,
    };
    static constexpr int kKeyCount = 25;
    static const std::array<StorageKey, kKeyCount>& allKeys();
    // The file (or folder) name of a key, e.g. "analytics.anonymousId".
    static QString fileName(StorageKey key);
    // The key's name as the logs write it, e.g. "anonymousId".
    static QString caseName(StorageKey key);
    static std::optional<StorageKey> keyFromRawValue(const QString& fileName);

    // Resolves and creates the project folder, takes the folder's lock, and
    // moves the files an earlier layout left in the folder above into it.
    explicit AnalyticsStorage(const AnalyticsConfig& config);

    // The project folder.
    const QString& appFolder() const { return appFolder_; }
    QString path(StorageKey key) const;
    // False when another process holds this project's folder: its queue must
    // not be shared, so the queues built on this storage stay inert.
    bool ownsFolder() const { return lock_->isHeld(); }

    std::optional<QByteArray> getData(StorageKey key) const;
    // Nothing deletes the file.
    void setData(StorageKey key, const std::optional<QByteArray>& contents);
    // Any JSON value, or nothing when the file is missing or not JSON.
    std::optional<QVariant> getJson(StorageKey key) const;
    // Scalars are stored wrapped in {"<file name>": value}; an invalid
    // QVariant deletes the file.
    void setJson(StorageKey key, const QVariant& json);
    std::optional<QString> getString(StorageKey key) const;
    std::optional<bool> getBool(StorageKey key) const;
    std::optional<qint64> getInt(StorageKey key) const;

    // Deletes what a reset forgets; the queues, the device id and the flags'
    // evaluation time stay.
    void reset(bool keepAnonymousId);

    // The folder name a project token maps to: the token, unless it could
    // name something else than one folder (empty, dots, slashes), in which
    // case it is percent-encoded.
    static QString folderName(const QString& projectToken);

private:
    void migrateLegacyFiles();
    // The value under the file's own name when the file holds a wrapper
    // object, else the value itself.
    std::optional<QVariant> unwrapped(StorageKey key) const;

    QString appFolder_;
    std::unique_ptr<FolderLock> lock_;
};

} // namespace analytics
