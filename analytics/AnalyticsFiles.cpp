#include "AnalyticsFiles.h"

#include "analytics/AnalyticsLog.h"

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

// Temporary files are hidden siblings: ".<name>.XXXXXX".
const char kTemporaryMarker = '.';

QString errnoText()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

bool writeAll(int fd, const char* data, qsizetype size)
{
    while (size > 0) {
        const ssize_t written = ::write(fd, data, static_cast<size_t>(size));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += written;
        size -= written;
    }
    return true;
}

struct LockTable {
    QMutex mutex;
    struct Entry {
        int fd = -1;
        int holders = 0;
    };
    QHash<QString, Entry> entries;
};

LockTable& lockTable()
{
    static LockTable table;
    return table;
}

} // namespace

bool writeFileAtomically(const QString& path, const QByteArray& data, Durability durability, QString* error)
{
    const QFileInfo info(path);
    QByteArray tmpl = QFile::encodeName(info.absolutePath() + QLatin1Char('/') + QLatin1Char(kTemporaryMarker) +
                                        info.fileName() + QStringLiteral(".XXXXXX"));
    const int fd = ::mkostemp(tmpl.data(), O_CLOEXEC);
    if (fd < 0) {
        if (error)
            *error = errnoText();
        return false;
    }
    bool ok = ::fchmod(fd, 0644) == 0 && writeAll(fd, data.constData(), data.size());
    if (ok && durability == Durability::PowerLoss)
        ok = ::fsync(fd) == 0;
    int savedErrno = ok ? 0 : errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        savedErrno = errno;
    }
    if (ok && ::rename(tmpl.constData(), QFile::encodeName(info.absoluteFilePath()).constData()) != 0) {
        ok = false;
        savedErrno = errno;
    }
    if (!ok) {
        ::unlink(tmpl.constData());
        if (error)
            *error = QString::fromLocal8Bit(std::strerror(savedErrno));
    }
    return ok;
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
