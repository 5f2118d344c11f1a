#pragma once

#include <QByteArray>
#include <QString>

namespace platform {

struct AtomicWriteOptions {
    unsigned mode = 0644;
    // Flush the new content to the disk before the rename, so it also
    // survives a power cut. Without it the write still survives a killed
    // process; frequent small writes that may be lost with the machine
    // (queued events) skip the cost.
    bool flushToDisk = true;
    // Make missing folders. A store whose folder vanishes on purpose (a
    // removed queue) turns it off, so a late write cannot bring it back.
    bool makeFolders = true;
};

// Replaces the file at `path` with `data` so that readers see either the old
// or the new content, never a mix: the bytes go to a temporary file in the same
// folder and the temporary file is renamed over `path`. The file gets exactly
// `options.mode`.
// Returns false, and leaves any existing file untouched, on failure; `error`
// (when given) then says why.
// The temporary file is hidden and named ".<name>.vellox-partial-XXXXXX", so
// listings that skip names starting with a dot never see one.
bool writeFileAtomically(const QString& path, const QByteArray& data, const AtomicWriteOptions& options,
                         QString* error = nullptr);
// The same, flushed to disk and making missing folders.
bool writeFileAtomically(const QString& path, const QByteArray& data, unsigned mode = 0644);

// Removes the temporary files that writes of `path` left behind when the
// process was killed half way, each of them possibly holding data the user
// has since removed: the current kind and the "<name>.tmp-XXXXXX" of earlier
// versions. A store calls it once when it starts, before it writes; a write in
// progress at that moment from another process would fail and keep its file.
void removeLeftoverTemporaryFiles(const QString& path);

enum class AppendResult { Appended, Missing, Failed };

// Appends `data` at the end of an existing file. The file is opened in append
// mode, so the bytes land at the current end even when another process has
// written since. A missing file is reported, never created.
AppendResult appendToExistingFile(const QString& path, const QByteArray& data);

// The same for a file of lines: when the file does not end with a line feed,
// because a writer was killed in the middle of a line, one goes before
// `data`, so the torn line stays on its own and the new one is whole.
AppendResult appendLinesToExistingFile(const QString& path, const QByteArray& data);

// Makes the folder at `path` readable by its owner only: missing folders on
// the way are created 0700, whatever the umask, and the folder itself is
// narrowed when others may use it. Folders that already exist above it keep
// their modes. Returns false when the folder is not there afterwards.
// Plain system calls only, so a worker may still call it while the process
// exits.
bool makePrivateFolder(const QString& path);

} // namespace platform
