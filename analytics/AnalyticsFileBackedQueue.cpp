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
#include <dirent.h>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

namespace analytics {

namespace {

QString errnoText(int error = errno)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// A list file being migrated waits here, beside where it was.
QString movedAsidePath(const QString& oldFile)
{
    return oldFile + QStringLiteral(".migrating");
}

// Elements of one list sharing a time get numbered names up to this many.
constexpr int kMaxMigratedNameSuffix = 1000;

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
        const QString aside = movedAsidePath(old);
        if (QFileInfo(aside).isFile())
            migrateMovedAsideQueue(aside);
        const QFileInfo info(old);
        if (!info.exists())
            continue;
        if (info.isDir())
            migrateOldQueueFolder(old);
        else
            migrateOldQueue(old);
    }

    // Listed with readdir and statx rather than through QFileInfo: start-up
    // may meet tens of thousands of files, and each creation time is taken
    // once, as UTC milliseconds, so sorting compares plain integers.
    DIR* dir = ::opendir(QFile::encodeName(folder_).constData());
    if (!dir) {
        const int error = errno;
        analyticsLog(QStringLiteral("Failed to load files for queue ") + folder_ + QStringLiteral(": ") +
                     errnoText(error));
        return;
    }
    struct Entry {
        QString name;
        qint64 createdMs;
    };
    std::vector<Entry> entries;
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir);
        if (!entry) {
            if (const int error = errno; error != 0) {
                analyticsLog(QStringLiteral("Failed to load files for queue ") + folder_ + QStringLiteral(": ") +
                             errnoText(error));
                ::closedir(dir);
                return;
            }
            break;
        }
        const QString name = QFile::decodeName(entry->d_name);
        if (name == QLatin1String(".") || name == QLatin1String(".."))
            continue;
        struct statx info {};
        const bool known = ::statx(::dirfd(dir), entry->d_name, 0, STATX_TYPE | STATX_BTIME | STATX_MTIME, &info) == 0;
        if (known && !S_ISREG(info.stx_mode))
            continue;
        // A temporary file is a write that a killed process never finished.
        if (isTemporaryFileName(name)) {
            ::unlinkat(::dirfd(dir), entry->d_name, 0);
            continue;
        }
        qint64 created = std::numeric_limits<qint64>::min();
        if (known) {
            const statx_timestamp& t = (info.stx_mask & STATX_BTIME) ? info.stx_btime : info.stx_mtime;
            created = t.tv_sec * 1000 + t.tv_nsec / 1000000;
        }
        entries.push_back({name, created});
    }
    ::closedir(dir);
    // Creation time first; names (time-ordered ids) settle ties.
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        return a.createdMs != b.createdMs ? a.createdMs < b.createdMs : a.name < b.name;
    });
    QMutexLocker lock(&itemsLock_);
    items_.clear();
    items_.reserve(static_cast<qsizetype>(entries.size()));
    for (Entry& entry : entries)
        items_.append(std::move(entry.name));
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
        if (::rename(QFile::encodeName(source).constData(), QFile::encodeName(target).constData()) != 0) {
            const int error = errno;
            analyticsLog(QStringLiteral("Failed to migrate file ") + name + QStringLiteral(": ") + errnoText(error));
        }
    }
    // Whatever could not be moved stays where it is, rather than going with
    // the folder.
    if (!QDir().rmdir(oldFolder))
        analyticsLog(QStringLiteral("Kept the earlier queue folder ") + oldFolder +
                     QStringLiteral(": it still holds entries that could not be moved"));
}

void AnalyticsFileBackedQueue::migrateOldQueue(const QString& oldFile)
{
    // The list moves aside before any element is written. A kill from here
    // on leaves the moved copy, which the next start finishes, and never the
    // list itself, whose elements would be migrated again under new names.
    const QString aside = movedAsidePath(oldFile);
    if (::rename(QFile::encodeName(oldFile).constData(), QFile::encodeName(aside).constData()) != 0) {
        const int error = errno;
        analyticsLog(QStringLiteral("Failed to migrate queue ") + errnoText(error));
        return;
    }
    // Elements without a usable time are stored under the time the
    // migration began. The moved copy keeps that time, so a resumed
    // migration names them as the first attempt did.
    const qint64 startedMs = now().toMSecsSinceEpoch();
    const timespec started{static_cast<time_t>(startedMs / 1000), static_cast<long>(startedMs % 1000) * 1000000};
    const timespec times[2] = {started, started};
    ::utimensat(AT_FDCWD, QFile::encodeName(aside).constData(), times, 0);
    migrateMovedAsideQueue(aside);
}

void AnalyticsFileBackedQueue::migrateMovedAsideQueue(const QString& aside)
{
    QFile file(aside);
    if (!file.open(QIODevice::ReadOnly)) {
        analyticsLog(QStringLiteral("Failed to migrate queue ") + file.errorString());
        deleteSafely(aside);
        return;
    }
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &error);
    file.close();
    if (error.error != QJsonParseError::NoError) {
        analyticsLog(QStringLiteral("Failed to migrate queue ") + error.errorString());
        deleteSafely(aside);
        return;
    }
    if (!doc.isArray()) {
        analyticsLog(QStringLiteral("[Analytics] Failed to migrate queue: invalid data format"));
        deleteSafely(aside);
        return;
    }
    const QDateTime started = QFileInfo(aside).lastModified();
    const QJsonArray array = doc.array();
    QHash<QString, int> nextSuffix;
    for (const QJsonValue& element : array) {
        if (!element.isObject())
            continue;
        const QJsonObject object = element.toObject();
        const QJsonValue stamp = object.value(QStringLiteral("timestamp"));
        const QDateTime when = (stamp.isString() ? toISO8601Date(stamp.toString()) : std::nullopt).value_or(started);
        const double seconds = static_cast<double>(when.toMSecsSinceEpoch()) / 1000.0;
        QString name = QString::number(seconds, 'f', QLocale::FloatingPointShortest);
        if (!name.contains(QLatin1Char('.')))
            name += QStringLiteral(".0");
        QString writeError;
        if (!storeMigrated(name, QJsonDocument(object).toJson(QJsonDocument::Compact), nextSuffix, &writeError)) {
            analyticsLog(QStringLiteral("Failed to migrate queue ") + writeError);
            break;
        }
    }
    deleteSafely(aside);
}

bool AnalyticsFileBackedQueue::storeMigrated(const QString& name, const QByteArray& data,
                                             QHash<QString, int>& nextSuffix, QString* error) const
{
    // Another event may hold the name (same time); name-1, name-2, ...
    // follow. The elements of one name come in the same order on every
    // attempt, so each starts looking after the place its predecessor took,
    // and a file there that already holds exactly its bytes is this element,
    // written before a kill cut the migration short.
    int& first = nextSuffix[name];
    for (int n = first; n < kMaxMigratedNameSuffix; ++n) {
        const QString candidate = n == 0 ? name : name + QLatin1Char('-') + QString::number(n);
        QFile existing(pathOf(candidate));
        bool stored = false;
        if (!existing.exists())
            stored = writeFileAtomically(existing.fileName(), data, Durability::ProcessCrash, error);
        else if (existing.size() == data.size() && existing.open(QIODevice::ReadOnly) && existing.readAll() == data)
            stored = true;
        else
            continue;
        first = n + 1;
        return stored;
    }
    return writeFileAtomically(pathOf(uuidText(TimeBasedEpochGenerator::shared().v7())), data,
                               Durability::ProcessCrash, error);
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
