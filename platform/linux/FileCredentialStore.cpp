#include "FileCredentialStore.h"

#include "platform/FileWrites.h"
#include "platform/StandardPaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>

#include <cstdio>
#include <sys/stat.h>

namespace platform::linuxbackend {

namespace {

constexpr unsigned kFileMode = 0600;
// Set-aside copies of a corrupt file kept at most: enough to recover from a
// few bad edits in a row, without piling up keys.
constexpr int kKeptCorruptCopies = 3;
const QLatin1String kItemsKey("items");
const QLatin1String kServiceKey("service");
const QLatin1String kAccountKey("account");
const QLatin1String kSecretKey("secret");

struct Item {
    QString service;
    QString account;
    QByteArray secret;
};

std::optional<QList<Item>> parseItems(const QByteArray& text)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(text, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonValue items = document.object().value(kItemsKey);
    if (!items.isArray())
        return std::nullopt;

    QList<Item> out;
    for (const QJsonValue& entry : items.toArray()) {
        const QJsonObject object = entry.toObject();
        const QJsonValue service = object.value(kServiceKey);
        const QJsonValue account = object.value(kAccountKey);
        const QJsonValue secret = object.value(kSecretKey);
        if (!entry.isObject() || !service.isString() || !account.isString() || !secret.isString())
            return std::nullopt;
        const auto decoded = QByteArray::fromBase64Encoding(secret.toString().toLatin1(),
                                                            QByteArray::AbortOnBase64DecodingErrors);
        if (!decoded)
            return std::nullopt;
        out.append({service.toString(), account.toString(), *decoded});
    }
    return out;
}

QByteArray serializeItems(const QList<Item>& items)
{
    QJsonArray array;
    for (const Item& item : items) {
        array.append(QJsonObject{{kServiceKey, item.service},
                                 {kAccountKey, item.account},
                                 {kSecretKey, QString::fromLatin1(item.secret.toBase64())}});
    }
    return QJsonDocument(QJsonObject{{kItemsKey, array}}).toJson(QJsonDocument::Indented);
}

QString asideName(const QString& path, int age)
{
    return age == 0 ? path + QStringLiteral(".corrupt") : path + QStringLiteral(".corrupt.%1").arg(age);
}

// Keeps a file we cannot use beside the original, newest first:
// "<file>.corrupt", then ".corrupt.1" and so on; copies older than the last
// kept one go, whatever number an earlier version gave them. Each copy may
// hold keys, so it is the owner's alone before it takes its name.
bool moveAside(const QString& path)
{
    if (::chmod(QFile::encodeName(path).constData(), kFileMode) != 0)
        return false;

    const QFileInfo info(path);
    const QString prefix = info.fileName() + QStringLiteral(".corrupt.");
    const QDir folder = info.absoluteDir();
    for (const QString& entry : folder.entryList(QDir::Files | QDir::Hidden | QDir::System)) {
        bool numbered = false;
        const int age = entry.startsWith(prefix) ? entry.mid(prefix.size()).toInt(&numbered) : 0;
        if (numbered && age >= kKeptCorruptCopies - 1)
            QFile::remove(folder.filePath(entry));
    }
    for (int age = kKeptCorruptCopies - 2; age >= 0; --age) {
        const QString from = asideName(path, age);
        if (!QFile::exists(from))
            continue;
        const QByteArray to = QFile::encodeName(asideName(path, age + 1));
        if (::rename(QFile::encodeName(from).constData(), to.constData()) != 0)
            return false;
        // Copies set aside by earlier versions kept the mode they had.
        ::chmod(to.constData(), kFileMode);
    }
    return ::rename(QFile::encodeName(path).constData(), QFile::encodeName(asideName(path, 0)).constData()) == 0;
}

enum class Load { Ok, Failed };

// The items in the file; none when there is no file. Fails when the file
// exists but cannot be read, or is corrupt and cannot be moved aside: writing
// then would destroy what it holds.
Load loadItems(const QString& path, QList<Item>& items)
{
    items.clear();
    QFile file(path);
    if (!file.exists())
        return Load::Ok;
    if (!file.open(QIODevice::ReadOnly))
        return Load::Failed;
    const QByteArray text = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return Load::Failed;
    file.close();

    if (auto parsed = parseItems(text)) {
        // Whoever widened the mode, secrets stay readable by their owner only.
        struct stat info {};
        const QByteArray native = QFile::encodeName(path);
        if (::stat(native.constData(), &info) == 0 && (info.st_mode & 0077) != 0)
            ::chmod(native.constData(), kFileMode);
        items = std::move(*parsed);
        return Load::Ok;
    }
    return moveAside(path) ? Load::Ok : Load::Failed;
}

// The folder is made for the user alone: the file name and its set-aside
// copies are nobody else's business either.
bool writeItems(const QString& path, const QList<Item>& items)
{
    return makePrivateFolder(QFileInfo(path).absolutePath())
        && writeFileAtomically(path, serializeItems(items), {.mode = kFileMode, .makeFolders = false});
}

qsizetype indexOf(const QList<Item>& items, const QString& service, const QString& account)
{
    for (qsizetype i = 0; i < items.size(); ++i) {
        if (items[i].service == service && items[i].account == account)
            return i;
    }
    return -1;
}

} // namespace

FileCredentialStore::FileCredentialStore(QString filePath)
    : filePath_(std::move(filePath))
{
    // A folder made wider by an earlier version, or by hand, is narrowed
    // before anything is read from it.
    const QString folder = QFileInfo(filePath_).absolutePath();
    if (QFileInfo(folder).isDir())
        makePrivateFolder(folder);
    removeLeftoverTemporaryFiles(filePath_);
}

QString FileCredentialStore::standardFilePath()
{
    return paths::dataHome() + QStringLiteral("/vellox/credentials.json");
}

CredentialStore::ReadResult FileCredentialStore::read(const QString& service, const QString& account, bool)
{
    QMutexLocker lock(&mutex_);
    QList<Item> items;
    if (loadItems(filePath_, items) != Load::Ok)
        return {Status::Failed, {}};
    const qsizetype index = indexOf(items, service, account);
    if (index < 0)
        return {Status::NotFound, {}};
    return {Status::Success, items[index].secret};
}

CredentialStore::Status FileCredentialStore::store(const QString& service, const QString& account,
                                                   const QByteArray& secret)
{
    QMutexLocker lock(&mutex_);
    QList<Item> items;
    if (loadItems(filePath_, items) != Load::Ok)
        return Status::Failed;
    // The secret takes the place of the first match; any duplicates go.
    QList<Item> updated;
    bool placed = false;
    for (Item& item : items) {
        if (item.service != service || item.account != account) {
            updated.append(std::move(item));
        } else if (!placed) {
            updated.append({service, account, secret});
            placed = true;
        }
    }
    if (!placed)
        updated.append({service, account, secret});
    items = std::move(updated);
    return writeItems(filePath_, items) ? Status::Success : Status::Failed;
}

CredentialStore::Status FileCredentialStore::remove(const QString& service, const QString& account)
{
    QMutexLocker lock(&mutex_);
    QList<Item> items;
    if (loadItems(filePath_, items) != Load::Ok)
        return Status::Failed;
    const qsizetype removed = items.removeIf(
        [&](const Item& item) { return item.service == service && item.account == account; });
    if (removed == 0)
        return Status::Success;
    return writeItems(filePath_, items) ? Status::Success : Status::Failed;
}

} // namespace platform::linuxbackend
