#include "platform/linux/JsonAppInfo.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using platform::linuxbackend::JsonAppInfo;

TEST(JsonAppInfo, BuildWritesInfoFileBesideTheExecutables)
{
    qunsetenv("VELLOX_INFO_FILE");
    const QString path = JsonAppInfo::locate();
    EXPECT_EQ(path, QCoreApplication::applicationDirPath() + "/Info.json");
    const JsonAppInfo info(path);
    EXPECT_EQ(info.value("CFBundleIdentifier").toString(), "app.vellox.desktop");
    EXPECT_FALSE(info.value("CFBundleShortVersionString").toString().isEmpty());
    EXPECT_EQ(info.value("ANALYTICS_API_KEY").typeId(), QMetaType::QString);
}

TEST(JsonAppInfo, EnvironmentNamesTheFileAndBadFilesHaveNoKeys)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("Info.json");
    qputenv("VELLOX_INFO_FILE", QFile::encodeName(path));
    EXPECT_EQ(JsonAppInfo::locate(), path);
    qunsetenv("VELLOX_INFO_FILE");

    EXPECT_FALSE(JsonAppInfo(path).value("CFBundleVersion").isValid());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("{\"CFBundleVersion\": ");
    file.close();
    EXPECT_FALSE(JsonAppInfo(path).value("CFBundleVersion").isValid());

    // Nested deeper than any real file: no keys, and no crash at start.
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("{\"CFBundleVersion\": \"7\", \"deep\": " + QByteArray(200000, '[') + QByteArray(200000, ']') + "}");
    file.close();
    EXPECT_FALSE(JsonAppInfo(path).value("CFBundleVersion").isValid());
}
