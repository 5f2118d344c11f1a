#pragma once

#include <QByteArray>
#include <QHash>
#include <QMutex>
#include <QString>
#include <QStringList>

#include <vector>

namespace analytics {

// A folder of event files, one JSON event per file, named by a time-ordered
// id, with the names kept in memory in queue order (oldest first). Only names
// are held in memory; a batch reads its files when it is taken.
class AnalyticsFileBackedQueue {
public:
    struct Item {
        QString name;
        QByteArray data;
    };

    // Prepares the folder, moves in the files of the earlier layouts (a
    // folder of event files, or one file holding a JSON array of events), and
    // lists what is queued. Run only by the process that holds the folder.
    // An empty folder path makes a queue that holds nothing and touches no file.
    AnalyticsFileBackedQueue(const QString& folder, const QStringList& oldQueues);

    const QString& queue() const { return folder_; }
    int depth() const;
    QStringList items() const;

    // Writes one event file and appends its name; false when the file could
    // not be written.
    bool add(const QByteArray& data);
    // Reads up to `count` files from the head, and no more than `maxBytes` in
    // all (one file at least). Names whose files are missing or unreadable are
    // dropped from the list on the way.
    std::vector<Item> peek(int count, qint64 maxBytes) const;
    // Drops exactly these names and their files, wherever they are now.
    void remove(const QStringList& names);
    // Drops the name at `index` and its file.
    void deleteAt(int index);
    // Drops up to `count` names from the head with their files.
    void pop(int count);
    void clear();

private:
    void setup(const QStringList& oldQueues);
    void migrateOldQueueFolder(const QString& oldFolder);
    void migrateOldQueue(const QString& oldFile);
    // Finishes the migration of a list file once it is moved aside, also
    // when an earlier attempt was cut short, and removes it.
    void migrateMovedAsideQueue(const QString& aside);
    bool storeMigrated(const QString& name, const QByteArray& data, QHash<QString, int>& nextSuffix,
                       QString* error) const;
    // A name in the folder that no file has, based on `preferred`.
    QString freeName(const QString& preferred) const;
    QString pathOf(const QString& name) const { return folder_ + QLatin1Char('/') + name; }
    void dropNames(const QStringList& names) const;

    QString folder_;
    mutable QMutex itemsLock_;
    mutable QStringList items_;
};

} // namespace analytics
