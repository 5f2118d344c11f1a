#include "Texts.h"

#include <QFile>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QMutex>

// Static libraries drop resources nobody refers to; this reference keeps them.
static void initTextResources()
{
    Q_INIT_RESOURCE(GlobalShortcuts);
}

namespace GlobalShortcuts::Texts {

namespace {

const QString kFallbackLanguage = QStringLiteral("en");

// Loaded once per language; a language without a file has an empty table.
// A copy (shared, not deep) goes out: another thread's first look-up of a
// language may grow the table of tables once the lock is released.
QHash<QString, QString> table(const QString& language)
{
    static QMutex mutex;
    static QHash<QString, QHash<QString, QString>> tables;
    QMutexLocker lock(&mutex);
    auto found = tables.find(language);
    if (found == tables.end()) {
        initTextResources();
        QHash<QString, QString> entries;
        QFile file(QStringLiteral(":/GlobalShortcuts/texts/%1.json").arg(language));
        if (file.open(QIODevice::ReadOnly)) {
            const QJsonObject object = QJsonDocument::fromJson(file.readAll()).object();
            for (auto it = object.begin(); it != object.end(); ++it) {
                if (it->isString())
                    entries.insert(it.key(), it->toString());
            }
        }
        found = tables.insert(language, entries);
    }
    return *found;
}

QString userLanguage()
{
    for (const QString& name : QLocale().uiLanguages()) {
        const QString language = name.section(QLatin1Char('-'), 0, 0).toLower();
        if (!table(language).isEmpty())
            return language;
    }
    return kFallbackLanguage;
}

} // namespace

QString text(const QString& key, const QString& language)
{
    const QHash<QString, QString> own = table(language);
    if (auto it = own.constFind(key); it != own.constEnd())
        return *it;
    const QHash<QString, QString> fallback = table(kFallbackLanguage);
    if (auto it = fallback.constFind(key); it != fallback.constEnd())
        return *it;
    return key;
}

QString text(const QString& key)
{
    return text(key, userLanguage());
}

} // namespace GlobalShortcuts::Texts
