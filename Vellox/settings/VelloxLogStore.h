#pragma once

#include <QString>
#include <QUrl>

#include <optional>

// The plain-text log file of rewrite outcomes, one line per entry, kept under
// the user's Logs folder in a folder of its own that only the user may open,
// and cut back to its last 64 KiB once it grows past 256 KiB. Failures here
// are swallowed: logging never disturbs a rewrite.
namespace VelloxLogStore {

enum class Level { info, warn, error };

struct Entry {
    Level level = Level::info;
    // Defaults on every field let callers name only what they have.
    QString code{};
    QString msg{};
    std::optional<QString> provider{};
    std::optional<QString> model{};
    std::optional<QString> detail{};
};

// Formats the line at once, which also fixes its timestamp, and queues the
// file work on the store's one worker thread without waiting for it. Safe to
// call from any thread.
void record(const Entry& entry);

// The log file, worked out from the environment on every call.
QUrl fileURL();

// Blocks until every line recorded so far has been written (or dropped on a
// file-system failure). For shutdown and tests; never call it from inside the
// store's own work. Lines still queued when the process exits are written
// before it goes all the same.
void waitForPendingWrites();

} // namespace VelloxLogStore
