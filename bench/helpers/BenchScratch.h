#pragma once

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QTemporaryDir>

#include <memory>
#include <vector>

namespace bench {

// The type of the file system holding `path` ("ext4", "tmpfs", ...), from the
// longest mount point above it.
inline QString filesystemType(const QString& path)
{
    const QString target = QFileInfo(path).canonicalFilePath();
    QFile mounts(QStringLiteral("/proc/self/mountinfo"));
    if (!mounts.open(QIODevice::ReadOnly))
        return QStringLiteral("unknown");
    QString best;
    QString type = QStringLiteral("unknown");
    // Fields: id parent major:minor root mount-point options... - type source super-options
    for (const QByteArray& line : mounts.readAll().split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        const qsizetype dash = fields.indexOf("-");
        if (fields.size() < 5 || dash < 0 || dash + 1 >= fields.size())
            continue;
        // Mount points escape blanks as \040.
        const QString point = QString::fromUtf8(fields[4]).replace(QStringLiteral("\\040"), QStringLiteral(" "));
        const bool above = point == QLatin1String("/") || target == point || target.startsWith(point + QLatin1Char('/'));
        if (above && point.size() >= best.size()) {
            best = point;
            type = QString::fromUtf8(fields[dash + 1]);
        }
    }
    return type;
}

// A folder under the temporary folder ($TMPDIR), kept until the program ends,
// and beyond it when VELLOX_BENCH_KEEP_FILES is set (scripts/bench removes
// them all once every benchmark has run). Deleting thousands of files right
// before a timed run would time the file system's clean-up, not the code: on
// ext4 without a journal, each new file skips every inode of its group freed
// in the last minutes.
inline QString retainedScratchFolder()
{
    static std::vector<std::unique_ptr<QTemporaryDir>> folders;
    folders.push_back(std::make_unique<QTemporaryDir>());
    folders.back()->setAutoRemove(qEnvironmentVariableIsEmpty("VELLOX_BENCH_KEEP_FILES"));
    return folders.back()->path();
}

// "ext4 at /tmp": where a benchmark's files went, for its label.
inline std::string describeFolder(const QString& folder)
{
    return (QStringLiteral("fs=") + filesystemType(folder) + QStringLiteral(" at ") + QDir::tempPath()).toStdString();
}

} // namespace bench
