#pragma once

#include <QByteArray>
#include <QString>

namespace analytics {

enum class Durability {
    // The new content survives a killed process: written to a temporary
    // file and renamed into place.
    ProcessCrash,
    // The same, and flushed to the disk before the rename, so it also
    // survives a power cut.
    PowerLoss,
};

// Replaces the file at `path` so that readers see either nothing or the whole
// new content, never part of it. Missing folders are not made: a queue whose
// folder was removed stays removed. On failure `error` says why and any
// earlier file is left as it was.
bool writeFileAtomically(const QString& path, const QByteArray& data, Durability durability, QString* error = nullptr);

// Whether a folder entry is an atomic write in progress (or left behind by a
// process that died in the middle of one); listings skip such names.
bool isTemporaryFileName(const QString& name);

// Removes the file or folder at `path` when it exists; a failure is logged.
void deleteSafely(const QString& path);
// Makes the folder with its parents when nothing is at `path`; a failure is logged.
void createDirectoryAtURLIfNeeded(const QString& path);

// An advisory lock on a folder, held by this process from the first
// acquisition until the last holder lets go. Another process that wants the
// same folder is refused until then (or until this process dies).
class FolderLock {
public:
    explicit FolderLock(const QString& folder);
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    bool isHeld() const { return held_; }

private:
    QString folder_;
    bool held_ = false;
};

} // namespace analytics
