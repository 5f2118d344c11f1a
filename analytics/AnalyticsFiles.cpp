#include "AnalyticsFiles.h"

#include "analytics/AnalyticsLog.h"
#include "platform/FileWrites.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMutex>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace analytics {

namespace {

// Temporary files of atomic writes are hidden siblings (see platform/FileWrites.h).
const char kTemporaryMarker = '.';

QString errnoText()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

struct LockTable {
    QMutex mutex;
    struct Entry {
        int fd = -1;
        int holders = 0;
    };
    QHash<QString, Entry> entries;
};

// Never destroyed: a folder lock may be let go of during exit, by a queue
// or storage that a thread still running then drops last.
LockTable& lockTable()
{
    static LockTable* const table = new LockTable;
    return *table;
}

} // namespace

bool writeFileAtomically(const QString& path, const QByteArray& data, Durability durability, QString* error)
{
    return platform::writeFileAtomically(
        path, data,
        platform::AtomicWriteOptions{
            .mode = 0644, .flushToDisk = durability == Durability::PowerLoss, .makeFolders = false},
        error);
}

bool isTemporaryFileName(const QString& name)
{
    return name.startsWith(QLatin1Char(kTemporaryMarker));
}

void deleteSafely(const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return;
    const bool removed = info.isDir() && !info.isSymLink() ? QDir(path).removeRecursively() : QFile::remove(path);
    if (!removed)
        analyticsLog(QStringLiteral("Error trying to delete file ") + path + QStringLiteral(" ") +
                     (info.isDir() ? QStringLiteral("folder could not be removed") : errnoText()));
}

void createDirectoryAtURLIfNeeded(const QString& path)
{
    if (QFileInfo::exists(path))
        return;
    if (!QDir().mkpath(path))
        analyticsLog(QStringLiteral("Error creating storage directory: ") + errnoText());
}

FolderLock::FolderLock(const QString& folder)
    : folder_(QFileInfo(folder).absoluteFilePath())
{
    LockTable& table = lockTable();
    QMutexLocker locker(&table.mutex);
    auto it = table.entries.find(folder_);
    if (it != table.entries.end()) {
        ++it->holders;
        held_ = true;
        return;
    }
    const int fd = ::open(QFile::encodeName(folder_).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return;
    }
    table.entries.insert(folder_, {fd, 1});
    held_ = true;
}

FolderLock::~FolderLock()
{
    if (!held_)
        return;
    LockTable& table = lockTable();
    QMutexLocker locker(&table.mutex);
    auto it = table.entries.find(folder_);
    if (it == table.entries.end())
        return;
    if (--it->holders == 0) {
        ::close(it->fd); // closing the only descriptor releases the lock
        table.entries.erase(it);
    }
}

} // namespace analytics
