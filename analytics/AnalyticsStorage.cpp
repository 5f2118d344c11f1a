#include "AnalyticsStorage.h"

#include "analytics/AnalyticsBundle.h"
#include "analytics/AnalyticsConfig.h"
#include "analytics/AnalyticsLog.h"
#include "platform/StandardPaths.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>

#include <cmath>

namespace analytics {

namespace {

using Key = AnalyticsStorage::StorageKey;

struct KeyInfo {
    const char* fileName;
    const char* caseName;
};

constexpr KeyInfo kKeys[AnalyticsStorage::kKeyCount] = {
    {"analytics.distinctId", "distinctId"},
    {"analytics.anonymousId", "anonymousId"},
    {"analytics.queueFolder.uuid", "queue"},
    {"analytics.queueFolder", "oldQueueFolder"},
    {"analytics.queue.plist", "oldQueuePlist"},
    {"analytics.replayFolder", "replayQeueue"},
    {"analytics.replayBufferFolder", "replayBufferQueue"},
    {"analytics.enabledFeatureFlags", "enabledFeatureFlags"},
    {"analytics.enabledFeatureFlagPayloads", "enabledFeatureFlagPayloads"},
    {"analytics.flags", "flags"},
    {"analytics.groups", "groups"},
    {"analytics.registerProperties", "registerProperties"},
    {"analytics.optOut", "optOut"},
    {"analytics.sessionReplay", "sessionReplay"},
    {"analytics.isIdentified", "isIdentified"},
    {"analytics.enabledPersonProcessing", "personProcessingEnabled"},
    {"analytics.remoteConfig", "remoteConfig"},
    {"analytics.surveySeen", "surveySeen"},
    {"analytics.lastSeenSurveyDate", "lastSeenSurveyDate"},
    {"analytics.requestId", "requestId"},
    {"analytics.evaluatedAt", "evaluatedAt"},
    {"analytics.personPropertiesForFlags", "personPropertiesForFlags"},
    {"analytics.groupPropertiesForFlags", "groupPropertiesForFlags"},
    {"analytics.errorTracking", "errorTracking"},
    {"analytics.deviceId", "deviceId"},
};

struct Globals {
    QMutex mutex;
    QString sdkName = QString::fromLatin1(kAnalyticsDefaultSdkName);
    QString version = QString::fromLatin1(kAnalyticsDefaultVersion);
};

// Never destroyed: upload threads that are never stopped read the names
// until the process ends.
Globals& globals()
{
    static Globals* const g = new Globals;
    return *g;
}

// Copies a file or a whole folder; false on the first failure.
bool copyRecursively(const QString& from, const QString& to, QString& error)
{
    const QFileInfo info(from);
    if (!info.isDir()) {
        QFile source(from);
        if (!source.copy(to)) {
            error = source.errorString();
            return false;
        }
        return true;
    }
    if (!QDir().mkpath(to)) {
        error = QStringLiteral("cannot create ") + to;
        return false;
    }
    const QStringList names = QDir(from).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString& name : names)
        if (!copyRecursively(from + QLatin1Char('/') + name, to + QLatin1Char('/') + name, error))
            return false;
    return true;
}

bool removeRecursively(const QString& path)
{
    const QFileInfo info(path);
    return info.isDir() && !info.isSymLink() ? QDir(path).removeRecursively() : QFile::remove(path);
}

// Parses any JSON value, scalars included.
std::optional<QJsonValue> parseJsonValue(const QByteArray& data, QString* error)
{
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson("[" + data + "]", &parseError);
    if (parseError.error != QJsonParseError::NoError || !doc.isArray() || doc.array().size() != 1) {
        if (error)
            *error = parseError.error != QJsonParseError::NoError ? parseError.errorString()
                                                                  : QStringLiteral("not one JSON value");
        return std::nullopt;
    }
    return doc.array().at(0);
}

} // namespace

QString analyticsSdkName()
{
    QMutexLocker lock(&globals().mutex);
    return globals().sdkName;
}

void setAnalyticsSdkName(const QString& name)
{
    QMutexLocker lock(&globals().mutex);
    globals().sdkName = name;
}

QString analyticsVersion()
{
    QMutexLocker lock(&globals().mutex);
    return globals().version;
}

void setAnalyticsVersion(const QString& version)
{
    QMutexLocker lock(&globals().mutex);
    globals().version = version;
}

QVariant parseBundleVersion(const QString& text)
{
    if (text.isEmpty())
        return text;
    QString digits = text;
    if (digits.startsWith(QLatin1Char('+')))
        digits.remove(0, 1);
    if (digits.isEmpty())
        return text;
    for (qsizetype i = 0; i < digits.size(); ++i) {
        const QChar c = digits.at(i);
        if (!(c.isDigit() && c.unicode() < 128) && !(i == 0 && c == QLatin1Char('-')))
            return text;
    }
    bool ok = false;
    const qlonglong value = digits.toLongLong(&ok, 10);
    return ok ? QVariant(value) : QVariant(text);
}

qint64 dateToMillis(const QDateTime& date)
{
    return date.toMSecsSinceEpoch();
}

const std::array<Key, AnalyticsStorage::kKeyCount>& AnalyticsStorage::allKeys()
{
    static const std::array<Key, kKeyCount> keys = [] {
        std::array<Key, kKeyCount> k{};
        for (int i = 0; i < kKeyCount; ++i)
            k[static_cast<size_t>(i)] = static_cast<Key>(i);
        return k;
    }();
    return keys;
}

QString AnalyticsStorage::fileName(StorageKey key)
{
    return QString::fromLatin1(kKeys[static_cast<int>(key)].fileName);
}

QString AnalyticsStorage::caseName(StorageKey key)
{
    return QString::fromLatin1(kKeys[static_cast<int>(key)].caseName);
}

std::optional<Key> AnalyticsStorage::keyFromRawValue(const QString& name)
{
    for (Key key : allKeys())
        if (fileName(key) == name)
            return key;
    return std::nullopt;
}

QString AnalyticsStorage::folderName(const QString& projectToken)
{
    if (projectToken.isEmpty())
        return QStringLiteral("%");
    if (projectToken == QLatin1String(".") || projectToken == QLatin1String("..") ||
        projectToken.contains(QLatin1Char('/')) || projectToken.contains(QChar(0)))
        return QString::fromLatin1(projectToken.toUtf8().toPercentEncoding());
    return projectToken;
}

AnalyticsStorage::AnalyticsStorage(const AnalyticsConfig& config)
{
    // Application groups have no counterpart on Linux: there is never a
    // group container, so the per-application folder is always used.
    const QString base = platform::paths::applicationSupportFolder() + QLatin1Char('/') + bundle::identifierOrFallback();
    appFolder_ = base + QLatin1Char('/') + folderName(config.projectToken());
    createDirectoryAtURLIfNeeded(appFolder_);
    lock_ = std::make_unique<FolderLock>(appFolder_);
    // Moving files in while another process runs on them would pull them
    // from under it.
    if (lock_->isHeld())
        migrateLegacyFiles();
}

QString AnalyticsStorage::path(StorageKey key) const
{
    return appFolder_ + QLatin1Char('/') + fileName(key);
}

void AnalyticsStorage::migrateLegacyFiles()
{
    const QString base = QFileInfo(appFolder_).absolutePath();
    if (!QFileInfo(base).isDir())
        return;
    for (Key key : allKeys()) {
        const QString name = fileName(key);
        const QString source = base + QLatin1Char('/') + name;
        const QFileInfo sourceInfo(source);
        if (!sourceInfo.exists())
            continue;
        const QString target = path(key);
        QString error;
        if (!QFileInfo::exists(target) && !copyRecursively(source, target, error))
            analyticsLog(QStringLiteral("Error during storage migration for file ") + name +
                         QStringLiteral(" at path ") + source + QStringLiteral(": ") + error);
        if (QFileInfo::exists(source) && !removeRecursively(source))
            analyticsLog(QStringLiteral("Could not delete file ") + name + QStringLiteral(" at path ") + source +
                         QStringLiteral(": ") + QStringLiteral("removal failed"));
    }
}

std::optional<QByteArray> AnalyticsStorage::getData(StorageKey key) const
{
    QFile file(path(key));
    if (!file.exists())
        return std::nullopt;
    if (!file.open(QIODevice::ReadOnly)) {
        analyticsLog(QStringLiteral("Error reading data from key ") + caseName(key) + QStringLiteral(": ") +
                     file.errorString());
        return std::nullopt;
    }
    return file.readAll();
}

void AnalyticsStorage::setData(StorageKey key, const std::optional<QByteArray>& contents)
{
    if (!contents) {
        deleteSafely(path(key));
        return;
    }
    createDirectoryAtURLIfNeeded(appFolder_);
    QString error;
    if (!writeFileAtomically(path(key), *contents, Durability::PowerLoss, &error))
        analyticsLog(QStringLiteral("Failed to write data for key '") + caseName(key) + QStringLiteral("' error: ") +
                     error);
}

std::optional<QVariant> AnalyticsStorage::getJson(StorageKey key) const
{
    const std::optional<QByteArray> data = getData(key);
    if (!data)
        return std::nullopt;
    QString error;
    const std::optional<QJsonValue> value = parseJsonValue(*data, &error);
    if (!value) {
        analyticsLog(QStringLiteral("Failed to serialize key '") + caseName(key) + QStringLiteral("' error: ") + error);
        return std::nullopt;
    }
    return value->toVariant();
}

void AnalyticsStorage::setJson(StorageKey key, const QVariant& json)
{
    if (!json.isValid()) {
        setData(key, std::nullopt);
        return;
    }
    const bool container = json.typeId() == QMetaType::QVariantMap || json.typeId() == QMetaType::QVariantList ||
                           json.typeId() == QMetaType::QStringList || json.typeId() == QMetaType::QVariantHash;
    const QVariant value = container ? json : QVariant(QVariantMap{{fileName(key), json}});
    if (!isValidObject(value)) {
        analyticsLog(QStringLiteral("Failed to serialize key '") + caseName(key) +
                     QStringLiteral("' error: the value is not valid JSON"));
        setData(key, std::nullopt);
        return;
    }
    setData(key, QJsonDocument::fromVariant(value).toJson(QJsonDocument::Compact));
}

std::optional<QVariant> AnalyticsStorage::unwrapped(StorageKey key) const
{
    const std::optional<QVariant> json = getJson(key);
    if (!json)
        return std::nullopt;
    if (json->typeId() == QMetaType::QVariantMap)
        return json->toMap().value(fileName(key));
    return json;
}

std::optional<QString> AnalyticsStorage::getString(StorageKey key) const
{
    const std::optional<QVariant> value = unwrapped(key);
    if (!value || value->typeId() != QMetaType::QString)
        return std::nullopt;
    return value->toString();
}

std::optional<bool> AnalyticsStorage::getBool(StorageKey key) const
{
    const std::optional<QVariant> value = unwrapped(key);
    if (!value || value->typeId() != QMetaType::Bool)
        return std::nullopt;
    return value->toBool();
}

std::optional<qint64> AnalyticsStorage::getInt(StorageKey key) const
{
    const std::optional<QVariant> value = unwrapped(key);
    if (!value)
        return std::nullopt;
    switch (value->typeId()) {
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
        return value->toLongLong();
    case QMetaType::Double: {
        const double d = value->toDouble();
        if (!std::isfinite(d) || std::fabs(d) > 9.2e18)
            return std::nullopt;
        return static_cast<qint64>(std::trunc(d));
    }
    default:
        return std::nullopt;
    }
}

void AnalyticsStorage::reset(bool keepAnonymousId)
{
    deleteSafely(path(Key::distinctId));
    if (!keepAnonymousId)
        deleteSafely(path(Key::anonymousId));
    for (Key key : {Key::oldQueueFolder, Key::oldQueuePlist, Key::flags, Key::enabledFeatureFlags,
                    Key::enabledFeatureFlagPayloads, Key::groups, Key::registerProperties, Key::optOut,
                    Key::sessionReplay, Key::isIdentified, Key::personProcessingEnabled, Key::remoteConfig,
                    Key::surveySeen, Key::lastSeenSurveyDate, Key::requestId, Key::personPropertiesForFlags,
                    Key::groupPropertiesForFlags, Key::errorTracking})
        deleteSafely(path(key));
}

} // namespace analytics
