#include "JsonFileDefaults.h"

#include "platform/FileWrites.h"
#include "platform/DefaultsCodec.h"
#include "platform/StandardPaths.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>

namespace platform::linuxbackend {

JsonFileDefaults::JsonFileDefaults(QString filePath)
    : filePath_(std::move(filePath))
{
    load();
}

QString JsonFileDefaults::standardFilePath()
{
    return paths::configHome() + QStringLiteral("/vellox/defaults.json");
}

void JsonFileDefaults::load()
{
    removeLeftoverTemporaryFiles(filePath_);
    QFile file(filePath_);
    if (!file.open(QIODevice::ReadOnly)) {
        if (!QFileInfo::exists(filePath_))
            return;
        // Replacing a file that could not be read would lose all of it.
        writable_ = false;
        qWarning().noquote() << QStringLiteral("Cannot read the settings file %1 (%2): changes stay in memory and are not saved")
                                    .arg(filePath_, file.errorString());
        return;
    }
    const QByteArray text = file.readAll();
    file.close();
    try {
        values_ = defaults_codec::parseFile(text);
    } catch (const nlohmann::json::exception&) {
        const QString aside = filePath_ + QStringLiteral(".corrupt");
        QFile::remove(aside);
        QFile::rename(filePath_, aside);
        values_.clear();
    }
}

QVariant JsonFileDefaults::value(const QString& key) const
{
    QMutexLocker lock(&mutex_);
    return values_.value(key);
}

void JsonFileDefaults::setValue(const QString& key, const QVariant& value)
{
    QMutexLocker lock(&mutex_);
    if (!value.isValid())
        values_.remove(key);
    else
        values_.insert(key, value);
    persistLocked();
}

void JsonFileDefaults::remove(const QString& key)
{
    QMutexLocker lock(&mutex_);
    if (values_.remove(key) > 0)
        persistLocked();
}

QStringList JsonFileDefaults::keys() const
{
    QMutexLocker lock(&mutex_);
    return values_.keys();
}

void JsonFileDefaults::persistLocked()
{
    if (!writable_)
        return;
    // Write failures are not reported: the in-memory value stays current and
    // the next successful write stores it.
    writeFileAtomically(filePath_, defaults_codec::serializeFile(values_), 0644);
}

} // namespace platform::linuxbackend
