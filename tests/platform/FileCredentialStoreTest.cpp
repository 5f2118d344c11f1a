#include "platform/linux/FileCredentialStore.h"

#include "support/TempHome.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <sys/stat.h>

using platform::CredentialStore;
using platform::linuxbackend::FileCredentialStore;
using Status = CredentialStore::Status;

namespace {

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& data, unsigned mode = 0600)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(data);
    file.close();
    ::chmod(QFile::encodeName(path).constData(), mode);
}

unsigned modeOf(const QString& path)
{
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return 0;
    return info.st_mode & 07777;
}

class FileCredentialStoreTest : public ::testing::Test {
protected:
    TempHome home;
    QString path = home.filePath("data/vellox/credentials.json");
    FileCredentialStore store{path};
};

} // namespace

TEST(FileCredentialStorePath, LivesUnderXdgDataHome)
{
    TempHome home;
    EXPECT_EQ(FileCredentialStore::standardFilePath(), home.path() + "/.local/share/vellox/credentials.json");
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.filePath("xdg-data")));
    EXPECT_EQ(FileCredentialStore::standardFilePath(), home.filePath("xdg-data") + "/vellox/credentials.json");
}

TEST_F(FileCredentialStoreTest, StoresReplacesAndRemovesPerAccount)
{
    const QByteArray binary("a\0b\xff\n", 5);
    EXPECT_EQ(store.store("Vellox", "one", "first"), Status::Success);
    EXPECT_EQ(store.store("Vellox", "two", binary), Status::Success);
    EXPECT_EQ(store.store("Vellox", "one", "second"), Status::Success);
    EXPECT_EQ(store.store("Other", "one", "elsewhere"), Status::Success);

    auto one = store.read("Vellox", "one", false);
    EXPECT_EQ(one.status, Status::Success);
    EXPECT_EQ(one.secret, "second");
    EXPECT_EQ(store.read("Vellox", "two", false).secret, binary);
    EXPECT_EQ(store.read("Other", "one", false).secret, "elsewhere");
    EXPECT_EQ(readFile(path).count("\"one\""), 2) << "one entry per service and account";

    EXPECT_EQ(store.remove("Vellox", "one"), Status::Success);
    EXPECT_EQ(store.read("Vellox", "one", true).status, Status::NotFound);
    EXPECT_EQ(store.read("Vellox", "two", false).secret, binary);
    EXPECT_EQ(store.remove("Vellox", "one"), Status::Success) << "removing an absent item succeeds";
}

TEST_F(FileCredentialStoreTest, MissingFileReadsAsNotFoundAndIsNotCreatedByRemove)
{
    EXPECT_EQ(store.read("Vellox", "one", false).status, Status::NotFound);
    EXPECT_EQ(store.remove("Vellox", "one"), Status::Success);
    EXPECT_FALSE(QFile::exists(path));
}

TEST_F(FileCredentialStoreTest, FileStaysReadableByItsOwnerOnly)
{
    ASSERT_EQ(store.store("Vellox", "one", "secret"), Status::Success);
    EXPECT_EQ(modeOf(path), 0600u);

    ::chmod(QFile::encodeName(path).constData(), 0644);
    EXPECT_EQ(store.read("Vellox", "one", false).secret, "secret");
    EXPECT_EQ(modeOf(path), 0600u) << "a widened mode is narrowed again";

    ::chmod(QFile::encodeName(path).constData(), 0644);
    ASSERT_EQ(store.store("Vellox", "two", "other"), Status::Success);
    EXPECT_EQ(modeOf(path), 0600u);
}

TEST_F(FileCredentialStoreTest, CorruptFileIsKeptAsideUnderAFreeName)
{
    struct Case {
        const char* name;
        QByteArray content;
    };
    const Case cases[] = {
        {"not JSON", "{\"items\": ["},
        {"not an object", "[]"},
        {"items not an array", R"({"items": 3})"},
        {"entry without account", R"({"items": [{"service": "Vellox", "secret": "YQ=="}]})"},
        {"secret not base64", R"({"items": [{"service": "Vellox", "account": "one", "secret": "!!"}]})"},
    };
    QStringList asideNames;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(path, c.content);
        EXPECT_EQ(store.read("Vellox", "one", false).status, Status::NotFound);
        EXPECT_FALSE(QFile::exists(path));
        const QString aside = asideNames.isEmpty() ? path + ".corrupt"
                                                   : path + QStringLiteral(".corrupt.%1").arg(asideNames.size());
        EXPECT_EQ(readFile(aside), c.content);
        asideNames.append(aside);
    }
    for (qsizetype i = 0; i < asideNames.size(); ++i)
        EXPECT_EQ(readFile(asideNames[i]), cases[i].content) << "earlier copies survive";

    writeFile(path, "garbage");
    EXPECT_EQ(store.store("Vellox", "one", "fresh"), Status::Success);
    EXPECT_EQ(store.read("Vellox", "one", false).secret, "fresh");
    EXPECT_EQ(readFile(path + QStringLiteral(".corrupt.%1").arg(asideNames.size())), "garbage");
}

TEST_F(FileCredentialStoreTest, UnreadableFileFailsEveryCallAndIsLeftAlone)
{
    // A folder where the file should be cannot be read, not even by root.
    ASSERT_TRUE(QDir().mkpath(path));
    EXPECT_EQ(store.read("Vellox", "one", false).status, Status::Failed);
    EXPECT_EQ(store.store("Vellox", "one", "secret"), Status::Failed);
    EXPECT_EQ(store.remove("Vellox", "one"), Status::Failed);
    EXPECT_TRUE(QFileInfo(path).isDir());
    EXPECT_FALSE(QFile::exists(path + ".corrupt"));
}
