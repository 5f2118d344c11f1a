#include "FileWrites.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <cstdlib>
#include <cstring>
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

bool writeFileAtomically(const QString& path, const QByteArray& data, const AtomicWriteOptions& options,
                         QString* error)
{
    const auto fail = [error](int code) {
        if (error)
            *error = QString::fromLocal8Bit(std::strerror(code));
        return false;
    };
    const QFileInfo info(path);
    if (options.makeFolders && !QDir().mkpath(info.absolutePath()))
        return fail(errno);

    QByteArray tmpl = QFile::encodeName(info.absolutePath() + QStringLiteral("/.") + info.fileName()) + kPartialSuffix
        + "XXXXXX";
    const int fd = ::mkostemp(tmpl.data(), O_CLOEXEC);
    if (fd < 0)
        return fail(errno);
    // mkstemp creates 0600, so a private file is never readable by others,
    // not even for a moment; other modes are set before any byte is written.
    bool ok = ::fchmod(fd, static_cast<mode_t>(options.mode)) == 0 && writeAll(fd, data.constData(), data.size())
        && (!options.flushToDisk || ::fsync(fd) == 0);
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
        return fail(savedErrno);
    }
    return true;
}

bool writeFileAtomically(const QString& path, const QByteArray& data, unsigned mode)
{
    return writeFileAtomically(path, data, AtomicWriteOptions{.mode = mode});
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

AppendResult appendLinesToExistingFile(const QString& path, const QByteArray& data)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_APPEND | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT ? AppendResult::Missing : AppendResult::Failed;
    struct stat info {};
    char last = '\n';
    bool ok = ::fstat(fd, &info) == 0 && (info.st_size == 0 || ::pread(fd, &last, 1, info.st_size - 1) == 1);
    if (ok && last != '\n')
        ok = writeAll(fd, "\n", 1);
    ok = ok && writeAll(fd, data.constData(), data.size());
    return ::close(fd) == 0 && ok ? AppendResult::Appended : AppendResult::Failed;
}

bool makePrivateFolder(const QString& path)
{
    constexpr mode_t kPrivate = 0700;
    const QByteArray native = QFile::encodeName(path);
    // Each missing folder from the top down; mkdir's mode is only ever
    // narrowed by the umask, never widened.
    for (qsizetype slash = native.indexOf('/', 1); slash >= 0; slash = native.indexOf('/', slash + 1)) {
        const QByteArray parent = native.left(slash);
        if (::mkdir(parent.constData(), kPrivate) != 0 && errno != EEXIST)
            return false;
    }
    if (::mkdir(native.constData(), kPrivate) == 0)
        return true;
    if (errno != EEXIST)
        return false;
    struct stat info {};
    if (::stat(native.constData(), &info) != 0 || !S_ISDIR(info.st_mode))
        return false;
    // Only what others may do is taken away; the owner's own bits stay.
    if ((info.st_mode & 0077) != 0)
        ::chmod(native.constData(), info.st_mode & 07700);
    return true;
}

} // namespace platform
