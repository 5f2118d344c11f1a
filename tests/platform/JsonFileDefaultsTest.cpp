#include "platform/linux/FileCredentialStore.h"
#include "platform/linux/JsonFileDefaults.h"

#include "support/TempHome.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QVariantMap>

#include <cstdio>

#include <unistd.h>

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

TEST(JsonFileDefaults, AFileNestedTooDeepIsKeptAsideInsteadOfCrashingEveryLaunch)
{
    TempHome home;
    const QString path = home.filePath("vellox/defaults.json");
    // 400 KB that once overflowed the stack on every start.
    const int depth = 200000;
    const QByteArray deep = "{\"a\":" + QByteArray(depth, '[') + QByteArray(depth, ']') + "}";
    writeFile(path, deep);
    JsonFileDefaults defaults(path);
    EXPECT_TRUE(defaults.keys().isEmpty());
    EXPECT_EQ(readFile(path + ".corrupt"), deep);

    // Nesting well within the bound is an ordinary value.
    const QByteArray nested = "{\"a\":" + QByteArray(100, '[') + QByteArray(100, ']') + "}";
    writeFile(path, nested);
    EXPECT_EQ(JsonFileDefaults(path).keys(), QStringList{"a"});
}

TEST(JsonFileDefaults, DictionariesNeverReadBackAsData)
{
    TempHome home;
    const QString path = home.filePath("defaults.json");
    const QVariantMap lookalikes[] = {
        {{"$data", "aGk="}},
        {{"$data", "plain text"}},
        {{"$$data", 1}, {"$", 2}},
    };
    {
        JsonFileDefaults defaults(path);
        for (int i = 0; i < 3; ++i)
            defaults.setValue(QStringLiteral("dict%1").arg(i), lookalikes[i]);
        defaults.setValue("$data", QStringLiteral("a key like the tag"));
        defaults.setValue("bytes", QByteArray("hi"));
    }
    JsonFileDefaults reloaded(path);
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(reloaded.value(QStringLiteral("dict%1").arg(i)), QVariant(lookalikes[i]));
    }
    EXPECT_EQ(reloaded.value("$data"), QVariant(QStringLiteral("a key like the tag")));
    EXPECT_EQ(reloaded.value("bytes"), QVariant(QByteArray("hi")));
}

TEST(JsonFileDefaults, FilesWrittenBeforeKeepReading)
{
    TempHome home;
    const QString path = home.filePath("defaults.json");
    writeFile(path, R"({"bytes":{"$data":"aGk="},"dict":{"$data":"not base64"},"plain":{"$k":1}})");
    JsonFileDefaults defaults(path);
    EXPECT_EQ(defaults.value("bytes"), QVariant(QByteArray("hi")));
    EXPECT_EQ(defaults.value("dict"), QVariant(QVariantMap{{"$data", "not base64"}}));
    EXPECT_EQ(defaults.value("plain"), QVariant(QVariantMap{{"$k", 1}}));
}

namespace {

QStringList filesIn(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

} // namespace

// Run by the test below in processes of its own, which it kills half way.
TEST(StoresKilledMidWrite, DISABLED_WriteUntilKilled)
{
    const QString folder = qEnvironmentVariable("VELLOX_TEST_WRITE_FOLDER");
    ASSERT_FALSE(folder.isEmpty());
    JsonFileDefaults defaults(folder + "/defaults.json");
    platform::linuxbackend::FileCredentialStore credentials(folder + "/credentials.json");
    // Large enough that a good part of the time goes to writing it out.
    const QByteArray blob(4 * 1024 * 1024, 'x');
    std::fputs("writing\n", stdout);
    std::fflush(stdout);
    for (int i = 0;; ++i) {
        defaults.setValue("blob", blob + QByteArray::number(i));
        credentials.store("Vellox", "gemini-api-key", "sk-" + QByteArray::number(i));
    }
}

TEST(StoresKilledMidWrite, LeftoversAreRemovedWhenTheStoresStart)
{
    TempHome home;
    const QString folder = home.filePath("vellox");
    QDir().mkpath(folder);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("VELLOX_TEST_WRITE_FOLDER", folder);
    // Kill writers while a write is in flight until one dies with its new
    // file half written; each new writer's stores clean up after the one
    // before.
    const auto partial = [&] {
        for (const QString& name : filesIn(folder)) {
            if (name != "defaults.json" && name != "credentials.json")
                return true;
        }
        return false;
    };
    for (int round = 0; round < 40 && !partial(); ++round) {
        QProcess child;
        child.setProcessEnvironment(environment);
        child.start(QCoreApplication::applicationFilePath(),
                    {"--gtest_also_run_disabled_tests", "--gtest_filter=StoresKilledMidWrite.DISABLED_WriteUntilKilled"});
        ASSERT_TRUE(child.waitForReadyRead(20000));
        QElapsedTimer clock;
        clock.start();
        while (!partial() && clock.elapsed() < 3000) {
        }
        child.kill();
        child.waitForFinished();
    }
    ASSERT_TRUE(partial()) << "no write was cut short";
    for (const QString& name : filesIn(folder)) {
        if (name != "defaults.json" && name != "credentials.json") {
            EXPECT_TRUE(name.startsWith(".")) << "a temporary file must be easy to tell: " << name.toStdString();
        }
    }
    // Written by earlier versions, and a file of the user's that only looks alike.
    writeFile(folder + "/defaults.json.tmp-a1B2c3", "{}");
    writeFile(folder + "/credentials.json.tmp-notes.txt", "mine");

    JsonFileDefaults defaults(folder + "/defaults.json");
    platform::linuxbackend::FileCredentialStore credentials(folder + "/credentials.json");
    QStringList expected{"credentials.json.tmp-notes.txt"};
    for (const char* real : {"credentials.json", "defaults.json"}) {
        if (QFileInfo::exists(folder + "/" + real))
            expected.append(real);
    }
    expected.sort();
    EXPECT_EQ(filesIn(folder), expected);
}

TEST(JsonFileDefaults, AFileThatCannotBeReadIsNeverWrittenOver)
{
    TempHome home;
    const QString path = home.filePath("vellox/defaults.json");
    // Root reads any file, so a folder in its place stands for a file left by
    // another owner; without root, a file nobody may read is tried too.
    QStringList messages;
    static QStringList* captured = nullptr;
    captured = &messages;
    const auto previous = qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& text) {
        captured->append(text);
    });
    QDir().mkpath(path);
    {
        JsonFileDefaults defaults(path);
        defaults.setValue("kept", 1);
        EXPECT_EQ(defaults.value("kept"), QVariant(1));
        EXPECT_TRUE(QFileInfo(path).isDir());
    }
    QDir().rmdir(path);
    if (::geteuid() != 0) {
        writeFile(path, R"({"precious":true})");
        QFile::setPermissions(path, QFileDevice::WriteOwner);
        JsonFileDefaults defaults(path);
        defaults.setValue("kept", 1);
        QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        EXPECT_EQ(readFile(path), R"({"precious":true})");
    }
    qInstallMessageHandler(previous);
    ASSERT_FALSE(messages.isEmpty());
    EXPECT_TRUE(messages.first().contains(path)) << messages.first().toStdString();
    EXPECT_EQ(messages.filter(path).size(), ::geteuid() != 0 ? 2 : 1) << "one line per store, not per write";
}
