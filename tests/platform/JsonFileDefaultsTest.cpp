#include "platform/linux/JsonFileDefaults.h"

#include "support/TempHome.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QVariantMap>

#include <gtest/gtest.h>

using platform::linuxbackend::JsonFileDefaults;

namespace {

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& data)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(data);
}

} // namespace

TEST(JsonFileDefaults, FileLivesUnderXdgConfigHome)
{
    TempHome home;
    EXPECT_EQ(JsonFileDefaults::standardFilePath(), home.path() + "/.config/vellox/defaults.json");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.filePath("cfg")));
    EXPECT_EQ(JsonFileDefaults::standardFilePath(), home.filePath("cfg") + "/vellox/defaults.json");
}

TEST(JsonFileDefaults, EveryValueTypeSurvivesAReload)
{
    TempHome home;
    const QString path = home.filePath("defaults.json");
    const QVariantMap nested{{"inner", QVariantList{1, "two", 3.5}}};
    struct Case {
        const char* key;
        QVariant value;
        QMetaType::Type type;
    };
    const Case cases[] = {
        {"string", QStringLiteral("hello"), QMetaType::QString},
        {"numericString", QStringLiteral("42"), QMetaType::QString},
        {"integer", QVariant::fromValue<qlonglong>(7), QMetaType::LongLong},
        {"wholeDouble", 2.0, QMetaType::Double},
        {"double", 0.4, QMetaType::Double},
        {"boolean", true, QMetaType::Bool},
        {"data", QByteArray("{\"a\":1}\xff", 8), QMetaType::QByteArray},
        {"array", QVariantList{"a", 1, false}, QMetaType::QVariantList},
        {"dictionary", nested, QMetaType::QVariantMap},
    };
    {
        JsonFileDefaults defaults(path);
        for (const Case& c : cases)
            defaults.setValue(c.key, c.value);
    }
    JsonFileDefaults reloaded(path);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key);
        const QVariant value = reloaded.value(c.key);
        EXPECT_EQ(value.typeId(), c.type);
        if (c.type == QMetaType::Double)
            EXPECT_EQ(value.toDouble(), c.value.toDouble());
        else
            EXPECT_EQ(value, c.value);
    }
}

TEST(JsonFileDefaults, RemoveAndAbsentKeys)
{
    TempHome home;
    const QString path = home.filePath("defaults.json");
    JsonFileDefaults defaults(path);
    EXPECT_FALSE(defaults.value("missing").isValid());
    defaults.setValue("a", 1);
    defaults.setValue("b", 2);
    defaults.remove("a");
    JsonFileDefaults reloaded(path);
    EXPECT_EQ(reloaded.keys(), QStringList{"b"});
}

TEST(JsonFileDefaults, CorruptFileIsKeptAsideAndDefaultsStartEmpty)
{
    TempHome home;
    const QString path = home.filePath("vellox/defaults.json");
    for (const QByteArray& bad : {QByteArray("{\"a\": 1,"), QByteArray("[1,2]"), QByteArray("\x00\x01", 2)}) {
        SCOPED_TRACE(bad.toStdString());
        QFile::remove(path + ".corrupt");
        writeFile(path, bad);
        JsonFileDefaults defaults(path);
        EXPECT_TRUE(defaults.keys().isEmpty());
        EXPECT_EQ(readFile(path + ".corrupt"), bad);
        EXPECT_FALSE(QFileInfo::exists(path));
        defaults.setValue("fresh", true);
        EXPECT_TRUE(JsonFileDefaults(path).value("fresh").toBool());
    }
}

TEST(JsonFileDefaults, WritesLeaveNoTemporaryFilesBehind)
{
    TempHome home;
    const QString folder = home.filePath("vellox");
    JsonFileDefaults defaults(folder + "/defaults.json");
    for (int i = 0; i < 5; ++i)
        defaults.setValue("n", i);
    EXPECT_EQ(QDir(folder).entryList(QDir::Files), QStringList{"defaults.json"});
}
