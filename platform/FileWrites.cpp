#include "FileWrites.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr const char* kPartialSuffix = ".vellox-partial-";
constexpr const char* kLegacySuffix = ".tmp-";
constexpr int kRandomLength = 6; // mkstemp's XXXXXX

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

} // namespace

bool writeFileAtomically(const QString& path, const QByteArray& data, unsigned mode)
{
    const QFileInfo info(path);
    if (!QDir().mkpath(info.absolutePath()))
        return false;

    QByteArray tmpl = QFile::encodeName(info.absolutePath() + QStringLiteral("/.") + info.fileName()) + kPartialSuffix
        + "XXXXXX";
    const int fd = ::mkstemp(tmpl.data());
    if (fd < 0)
        return false;
    // mkstemp creates 0600, so a private file is never readable by others,
    // not even for a moment; other modes are set before any byte is written.
    if (::fchmod(fd, static_cast<mode_t>(mode)) != 0) {
        ::close(fd);
        ::unlink(tmpl.constData());
        return false;
    }

    const bool ok = writeAll(fd, data.constData(), data.size()) && ::fsync(fd) == 0;
    const bool closed = ::close(fd) == 0;
    if (!ok || !closed || ::rename(tmpl.constData(), QFile::encodeName(info.absoluteFilePath()).constData()) != 0) {
        ::unlink(tmpl.constData());
        return false;
    }
    return true;
}

void removeLeftoverTemporaryFiles(const QString& path)
{
    const QFileInfo info(path);
    const QString name = info.fileName();
    const QString partial = QStringLiteral(".") + name + QLatin1String(kPartialSuffix);
    const QString legacy = name + QLatin1String(kLegacySuffix);
    const QDir folder = info.absoluteDir();
    const QStringList entries = folder.entryList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString& entry : entries) {
        const bool ours = (entry.startsWith(partial) && entry.size() == partial.size() + kRandomLength)
            || (entry.startsWith(legacy) && entry.size() == legacy.size() + kRandomLength);
        if (ours)
            ::unlink(QFile::encodeName(folder.filePath(entry)).constData());
    }
}

AppendResult appendToExistingFile(const QString& path, const QByteArray& data)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT ? AppendResult::Missing : AppendResult::Failed;
    const bool written = writeAll(fd, data.constData(), data.size());
    return ::close(fd) == 0 && written ? AppendResult::Appended : AppendResult::Failed;
}

} // namespace platform
