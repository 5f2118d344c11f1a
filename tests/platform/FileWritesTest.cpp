#include "platform/FileWrites.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

TEST(FileWrites, CreatesFoldersAndReplacesContentWithTheGivenMode)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("a/b/secret.json");
    ASSERT_TRUE(platform::writeFileAtomically(path, "first", 0600));
    ASSERT_TRUE(platform::writeFileAtomically(path, "second", 0600));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), "second");
    EXPECT_EQ(QFileInfo(path).permissions() & 0x7777,
              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser | QFileDevice::WriteUser);
    EXPECT_EQ(QDir(dir.filePath("a/b")).entryList(QDir::Files), QStringList{"secret.json"});
}

TEST(FileWrites, FailureLeavesTheOldFileAlone)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("keep.txt");
    ASSERT_TRUE(platform::writeFileAtomically(path, "old"));
    // The parent of the target is a plain file, so nothing can be written.
    EXPECT_FALSE(platform::writeFileAtomically(path + "/child.txt", "new"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), "old");
}

TEST(FileWrites, AppendGoesToTheEndOfAnExistingFileAndNeverCreatesOne)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("log.txt");
    EXPECT_EQ(platform::appendToExistingFile(path, "x"), platform::AppendResult::Missing);
    EXPECT_FALSE(QFileInfo::exists(path));
    ASSERT_TRUE(platform::writeFileAtomically(path, "one\n"));
    EXPECT_EQ(platform::appendToExistingFile(path, "two\n"), platform::AppendResult::Appended);
    EXPECT_EQ(platform::appendToExistingFile(dir.path(), "x"), platform::AppendResult::Failed);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), "one\ntwo\n");
}

TEST(FileWrites, WithoutMakingFoldersAMissingFolderFailsWithAReasonAndStaysMissing)
{
    QTemporaryDir dir;
    const QString folder = dir.filePath("removed-queue");
    QString error;
    EXPECT_FALSE(platform::writeFileAtomically(folder + "/item", "x",
                                               platform::AtomicWriteOptions{.makeFolders = false}, &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(QFileInfo::exists(folder));

    // Without the flush the write is as whole and leaves no temporary file.
    ASSERT_TRUE(platform::writeFileAtomically(dir.filePath("item"), "y",
                                              platform::AtomicWriteOptions{.flushToDisk = false}));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"item"});
}
