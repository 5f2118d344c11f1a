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

// A hand-edited file saved with the usual mode holds keys: its set-aside copy
// is the owner's alone, and only the newest few are kept.
TEST_F(FileCredentialStoreTest, CorruptFileIsSetAsideOwnerOnlyKeepingTheNewestThree)
{
    struct Case {
        const char* name;
        QByteArray content;
    };
    const Case cases[] = {
        {"not JSON", R"({"items": [{"service": "Vellox", "account": "one", "secret": "c2VjcmV0"})"},
        {"not an object", "[]"},
        {"items not an array", R"({"items": 3})"},
        {"entry without account", R"({"items": [{"service": "Vellox", "secret": "YQ=="}]})"},
        {"secret not base64", R"({"items": [{"service": "Vellox", "account": "one", "secret": "!!"}]})"},
    };
    // Left by an earlier version, which numbered copies without end.
    writeFile(path + ".corrupt.7", "old copy", 0644);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(path, c.content, 0644);
        EXPECT_EQ(store.read("Vellox", "one", false).status, Status::NotFound);
        EXPECT_FALSE(QFile::exists(path));
        EXPECT_EQ(readFile(path + ".corrupt"), c.content);
        EXPECT_EQ(modeOf(path + ".corrupt"), 0600u);
    }
    const QString folder = QFileInfo(path).absolutePath();
    EXPECT_EQ(QDir(folder).entryList({"credentials.json.*"}, QDir::Files | QDir::Hidden),
              (QStringList{"credentials.json.corrupt", "credentials.json.corrupt.1", "credentials.json.corrupt.2"}));
    for (int age = 0; age < 3; ++age) {
        const QString aside = age == 0 ? path + ".corrupt" : path + QStringLiteral(".corrupt.%1").arg(age);
        EXPECT_EQ(readFile(aside), cases[std::size(cases) - 1 - age].content) << age;
        EXPECT_EQ(modeOf(aside), 0600u) << age;
    }

    writeFile(path, "garbage", 0644);
    EXPECT_EQ(store.store("Vellox", "one", "fresh"), Status::Success);
    EXPECT_EQ(store.read("Vellox", "one", false).secret, "fresh");
    EXPECT_EQ(readFile(path + ".corrupt"), "garbage");
}

TEST_F(FileCredentialStoreTest, FolderIsTheOwnersOnly)
{
    // The usual umask, under which folders come out 0755.
    struct Umask {
        mode_t saved = ::umask(022);
        ~Umask() { ::umask(saved); }
    } umask;
    const QString folder = QFileInfo(path).absolutePath();
    ASSERT_FALSE(QFileInfo::exists(home.filePath("data")));
    ASSERT_EQ(store.store("Vellox", "one", "secret"), Status::Success);
    EXPECT_EQ(modeOf(home.filePath("data")), 0700u);
    EXPECT_EQ(modeOf(folder), 0700u);

    // Found wider, as an earlier version made it.
    ASSERT_EQ(::chmod(QFile::encodeName(folder).constData(), 0755), 0);
    FileCredentialStore again(path);
    EXPECT_EQ(modeOf(folder), 0700u);
    ASSERT_EQ(::chmod(QFile::encodeName(folder).constData(), 0755), 0);
    ASSERT_EQ(again.store("Vellox", "two", "other"), Status::Success);
    EXPECT_EQ(modeOf(folder), 0700u);
    EXPECT_EQ(again.read("Vellox", "one", false).secret, "secret");
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
