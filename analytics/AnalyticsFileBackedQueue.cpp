#include "AnalyticsFileBackedQueue.h"

#include "analytics/AnalyticsEvent.h"
#include "analytics/AnalyticsFiles.h"
#include "analytics/AnalyticsLog.h"
#include "analytics/TimeBasedEpochGenerator.h"
#include "platform/Clock.h"
#include "platform/Platform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>

namespace analytics {

namespace {

QDateTime now()
{
    const auto& clock = platform::Platform::current().clock;
    return clock ? clock->now() : QDateTime::currentDateTimeUtc();
}

} // namespace

AnalyticsFileBackedQueue::AnalyticsFileBackedQueue(const QString& folder, const QStringList& oldQueues)
    : folder_(folder)
{
    setup(oldQueues);
}

void AnalyticsFileBackedQueue::setup(const QStringList& oldQueues)
{
    // Without a folder the queue holds nothing and touches no file (an
    // empty path would mean the working directory).
    if (folder_.isEmpty())
        return;
    if (!QDir().mkpath(folder_))
        analyticsLog(QStringLiteral("Error trying to create caching folder ") + folder_);

    for (const QString& old : oldQueues) {
        const QFileInfo info(old);
        if (!info.exists())
            continue;
        if (info.isDir())
            migrateOldQueueFolder(old);
        else
            migrateOldQueue(old);
    }

    QDir dir(folder_);
    if (!dir.exists()) {
        analyticsLog(QStringLiteral("Failed to load files for queue ") + folder_ + QStringLiteral(" does not exist"));
        return;
    }
    struct Entry {
        QString name;
        QDateTime created;
    };
    std::vector<Entry> entries;
    const QFileInfoList infos = dir.entryInfoList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QFileInfo& info : infos) {
        // A temporary file is a write that a killed process never finished.
        if (isTemporaryFileName(info.fileName())) {
            QFile::remove(info.absoluteFilePath());
            continue;
        }
        QDateTime created = info.birthTime();
        if (!created.isValid())
            created = info.lastModified();
        entries.push_back({info.fileName(), created});
    }
    // Creation time first; names (time-ordered ids) settle ties.
    std::stable_sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        const qint64 ta = a.created.isValid() ? a.created.toMSecsSinceEpoch() : std::numeric_limits<qint64>::min();
        const qint64 tb = b.created.isValid() ? b.created.toMSecsSinceEpoch() : std::numeric_limits<qint64>::min();
        return ta != tb ? ta < tb : a.name < b.name;
    });
    QMutexLocker lock(&itemsLock_);
    items_.clear();
    for (const Entry& entry : entries)
        items_.append(entry.name);
}

QString AnalyticsFileBackedQueue::freeName(const QString& preferred) const
{
    if (!preferred.isEmpty() && !isTemporaryFileName(preferred) && !QFileInfo::exists(pathOf(preferred)))
        return preferred;
    return uuidText(TimeBasedEpochGenerator::shared().v7());
}

void AnalyticsFileBackedQueue::migrateOldQueueFolder(const QString& oldFolder)
{
    QDir dir(oldFolder);
    const QStringList names = dir.entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QString& name : names) {
        const QString source = dir.filePath(name);
        if (isTemporaryFileName(name)) {
            QFile::remove(source);
            continue;
        }
        // A name taken in the new folder gets a fresh one rather than
        // replacing the event already there.
        const QString target = pathOf(freeName(name));
        if (::rename(QFile::encodeName(source).constData(), QFile::encodeName(target).constData()) != 0)
            analyticsLog(QStringLiteral("Failed to migrate file ") + name + QStringLiteral(": ") +
                         QString::fromLocal8Bit(std::strerror(errno)));
    }
    // Whatever could not be moved stays where it is, rather than going with
    // the folder.
    if (!QDir().rmdir(oldFolder))
        analyticsLog(QStringLiteral("Kept the earlier queue folder ") + oldFolder +
                     QStringLiteral(": it still holds entries that could not be moved"));
}

void AnalyticsFileBackedQueue::migrateOldQueue(const QString& oldFile)
{
    QFile file(oldFile);
    if (!file.open(QIODevice::ReadOnly)) {
        analyticsLog(QStringLiteral("Failed to migrate queue ") + file.errorString());
        deleteSafely(oldFile);
        return;
    }
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &error);
    file.close();
    if (error.error != QJsonParseError::NoError) {
        analyticsLog(QStringLiteral("Failed to migrate queue ") + error.errorString());
        deleteSafely(oldFile);
        return;
    }
    if (!doc.isArray()) {
        analyticsLog(QStringLiteral("[Analytics] Failed to migrate queue: invalid data format"));
        deleteSafely(oldFile);
        return;
    }
    const QJsonArray array = doc.array();
    for (const QJsonValue& element : array) {
        if (!element.isObject())
            continue;
        const QJsonObject object = element.toObject();
        const QJsonValue stamp = object.value(QStringLiteral("timestamp"));
        const QString text = stamp.isString() ? stamp.toString() : toISO8601String(now());
        const QDateTime when = toISO8601Date(text).value_or(now());
        const double seconds = static_cast<double>(when.toMSecsSinceEpoch()) / 1000.0;
        QString name = QString::number(seconds, 'f', QLocale::FloatingPointShortest);
        if (!name.contains(QLatin1Char('.')))
            name += QStringLiteral(".0");
        QString writeError;
        if (!writeFileAtomically(pathOf(freeName(name)), QJsonDocument(object).toJson(QJsonDocument::Compact),
                                 Durability::ProcessCrash, &writeError)) {
            analyticsLog(QStringLiteral("Failed to migrate queue ") + writeError);
            break;
        }
    }
    deleteSafely(oldFile);
}

int AnalyticsFileBackedQueue::depth() const
{
    QMutexLocker lock(&itemsLock_);
    return static_cast<int>(items_.size());
}

QStringList AnalyticsFileBackedQueue::items() const
{
    QMutexLocker lock(&itemsLock_);
    return items_;
}

bool AnalyticsFileBackedQueue::add(const QByteArray& data)
{
    if (folder_.isEmpty())
        return false;
    const QString name = uuidText(TimeBasedEpochGenerator::shared().v7());
    QString error;
    if (!writeFileAtomically(pathOf(name), data, Durability::ProcessCrash, &error)) {
        analyticsLog(QStringLiteral("Could not write file ") + error);
        return false;
    }
    QMutexLocker lock(&itemsLock_);
    items_.append(name);
    return true;
}

std::vector<AnalyticsFileBackedQueue::Item> AnalyticsFileBackedQueue::peek(int count, qint64 maxBytes) const
{
    std::vector<Item> result;
    QStringList gone;
    qint64 bytes = 0;
    const QStringList names = items();
    for (const QString& name : names) {
        if (static_cast<int>(result.size()) >= count)
            break;
        const QString path = pathOf(name);
        QFile file(path);
        if (!file.exists()) {
            analyticsLog(QStringLiteral("File ") + path + QStringLiteral(" does not exist"));
            gone << name;
            continue;
        }
        if (!file.open(QIODevice::ReadOnly)) {
            analyticsLog(QStringLiteral("File ") + path + QStringLiteral(" is corrupted ") + file.errorString());
            QFile::remove(path);
            gone << name;
            continue;
        }
        if (!result.empty() && bytes + file.size() > maxBytes)
            break;
        QByteArray data = file.readAll();
        bytes += data.size();
        result.push_back({name, std::move(data)});
    }
    if (!gone.isEmpty())
        dropNames(gone);
    return result;
}

void AnalyticsFileBackedQueue::dropNames(const QStringList& names) const
{
    QMutexLocker lock(&itemsLock_);
    for (const QString& name : names)
        items_.removeOne(name);
}

void AnalyticsFileBackedQueue::remove(const QStringList& names)
{
    dropNames(names);
    if (folder_.isEmpty())
        return;
    for (const QString& name : names)
        QFile::remove(pathOf(name));
}

void AnalyticsFileBackedQueue::deleteAt(int index)
{
    QString name;
    {
        QMutexLocker lock(&itemsLock_);
        if (index < 0 || index >= items_.size())
            return;
        name = items_.takeAt(index);
    }
    QFile::remove(pathOf(name));
}

void AnalyticsFileBackedQueue::pop(int count)
{
    for (int i = 0; i < count; ++i) {
        QString name;
        {
            QMutexLocker lock(&itemsLock_);
            if (items_.isEmpty())
                return;
            name = items_.takeFirst();
        }
        QFile::remove(pathOf(name));
    }
}

void AnalyticsFileBackedQueue::clear()
{
    QStringList names;
    {
        QMutexLocker lock(&itemsLock_);
        names.swap(items_);
    }
    for (const QString& name : names)
        QFile::remove(pathOf(name));
}

} // namespace analytics
