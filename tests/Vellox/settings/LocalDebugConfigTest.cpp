#include "Vellox/settings/LocalDebugConfig.h"

#include "support/TempHome.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <optional>

namespace {

const char* const kSwitch = "VELLOX_TEST_LOCAL_DEBUG_SWITCH";
const char* const kDebugFile = ".vellox-local-debug.env";

// Runs each test in a fresh working directory with the switch's variable
// unset, and puts both back afterwards.
class LocalDebugConfigTest : public ::testing::Test {
protected:
    LocalDebugConfigTest()
        : previousDirectory_(QDir::currentPath())
    {
        QDir::setCurrent(home_.path());
        qunsetenv(kSwitch);
    }
    ~LocalDebugConfigTest() override
    {
        qunsetenv(kSwitch);
        QDir::setCurrent(previousDirectory_);
    }

    void writeDebugFile(const QByteArray& contents)
    {
        QFile file(home_.filePath(QString::fromLatin1(kDebugFile)));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(contents);
    }

    void removeDebugFile() { QFile::remove(home_.filePath(QString::fromLatin1(kDebugFile))); }

    TempHome home_;
    QString previousDirectory_;
};

} // namespace

TEST_F(LocalDebugConfigTest, ReadsTheEnvironmentThenTheFile)
{
    struct Case {
        const char* name;
        std::optional<QByteArray> environment;
        std::optional<QByteArray> file;
        bool expected;
    };
    const Case cases[] = {
        {"no variable and no file", std::nullopt, std::nullopt, false},
        {"variable 1", "1", std::nullopt, true},
        {"variable true", "true", std::nullopt, true},
        {"variable TRUE", "TRUE", std::nullopt, true},
        {"variable Yes with blanks", " Yes ", std::nullopt, true},
        {"variable with a trailing line feed", "yes\n", std::nullopt, true},
        {"variable on is off", "on", std::nullopt, false},
        {"variable y is off", "y", std::nullopt, false},
        {"variable 2 is off", "2", std::nullopt, false},
        {"empty variable", "", std::nullopt, false},
        {"variable 0 cannot turn off the file", "0", "VELLOX_TEST_LOCAL_DEBUG_SWITCH=1\n", true},
        {"file is read when the variable is missing", std::nullopt, "VELLOX_TEST_LOCAL_DEBUG_SWITCH=1\n", true},
        {"variable on wins over a file that is off", "1", "VELLOX_TEST_LOCAL_DEBUG_SWITCH=0\n", true},
        {"blanks around key, equals sign and value", std::nullopt, "  VELLOX_TEST_LOCAL_DEBUG_SWITCH  =  true  \n",
         true},
        {"tabs around the value", std::nullopt, "VELLOX_TEST_LOCAL_DEBUG_SWITCH=\tyes\t\n", true},
        {"nothing after the equals sign", std::nullopt, "VELLOX_TEST_LOCAL_DEBUG_SWITCH=\n", false},
        {"blanks after the equals sign", std::nullopt, "VELLOX_TEST_LOCAL_DEBUG_SWITCH=   \n", false},
        {"only the key", std::nullopt, "VELLOX_TEST_LOCAL_DEBUG_SWITCH\n", false},
        {"leading equals sign is passed over", std::nullopt, "=VELLOX_TEST_LOCAL_DEBUG_SWITCH=1\n", true},
        {"second equals sign stays in the value", std::nullopt, "VELLOX_TEST_LOCAL_DEBUG_SWITCH==1\n", false},
        {"comment line", std::nullopt, "#VELLOX_TEST_LOCAL_DEBUG_SWITCH=1\n", false},
        {"indented comment line", std::nullopt, "   # VELLOX_TEST_LOCAL_DEBUG_SWITCH=1\n", false},
        {"trailing note is part of the value", std::nullopt, "VELLOX_TEST_LOCAL_DEBUG_SWITCH=1 # note\n", false},
        {"later line wins, off", std::nullopt,
         "VELLOX_TEST_LOCAL_DEBUG_SWITCH=1\nVELLOX_TEST_LOCAL_DEBUG_SWITCH=0\n", false},
        {"later line wins, on", std::nullopt,
         "VELLOX_TEST_LOCAL_DEBUG_SWITCH=0\nVELLOX_TEST_LOCAL_DEBUG_SWITCH=yes\n", true},
        {"carriage-return line ends", std::nullopt, "OTHER=0\rVELLOX_TEST_LOCAL_DEBUG_SWITCH=1\rMORE=2\r", true},
        {"CRLF line ends", std::nullopt, "OTHER=0\r\nVELLOX_TEST_LOCAL_DEBUG_SWITCH=1\r\n", true},
        {"Unicode line separator", std::nullopt, "OTHER=0\xE2\x80\xA8VELLOX_TEST_LOCAL_DEBUG_SWITCH=1", true},
        {"no final line break", std::nullopt, "VELLOX_TEST_LOCAL_DEBUG_SWITCH=true", true},
        {"keys are case-sensitive", std::nullopt, "vellox_test_local_debug_switch=1\n", false},
        {"other keys do not count", std::nullopt, "VELLOX_TEST_LOCAL_DEBUG_SWITCH_2=1\n", false},
        {"file that is not UTF-8 counts as empty", std::nullopt,
         QByteArray("VELLOX_TEST_LOCAL_DEBUG_SWITCH=1\n\xff\xfe\n"), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.environment)
            qputenv(kSwitch, *c.environment);
        else
            qunsetenv(kSwitch);
        if (c.file)
            writeDebugFile(*c.file);
        else
            removeDebugFile();
        EXPECT_EQ(LocalDebugConfig::isEnabled(QString::fromLatin1(kSwitch)), c.expected);
    }
}

TEST_F(LocalDebugConfigTest, RereadsTheFileOnEveryQuestion)
{
    writeDebugFile("VELLOX_TEST_LOCAL_DEBUG_SWITCH=1\n");
    EXPECT_TRUE(LocalDebugConfig::isEnabled(QString::fromLatin1(kSwitch)));
    writeDebugFile("VELLOX_TEST_LOCAL_DEBUG_SWITCH=0\n");
    EXPECT_FALSE(LocalDebugConfig::isEnabled(QString::fromLatin1(kSwitch)));
    removeDebugFile();
    EXPECT_FALSE(LocalDebugConfig::isEnabled(QString::fromLatin1(kSwitch)));
}

TEST_F(LocalDebugConfigTest, FileInAnotherDirectoryIsNotRead)
{
    writeDebugFile("VELLOX_TEST_LOCAL_DEBUG_SWITCH=1\n");
    QDir(home_.path()).mkdir(QStringLiteral("elsewhere"));
    QDir::setCurrent(home_.filePath(QStringLiteral("elsewhere")));
    EXPECT_FALSE(LocalDebugConfig::isEnabled(QString::fromLatin1(kSwitch)));
}

TEST_F(LocalDebugConfigTest, UnreadableDebugPathCountsAsEmpty)
{
    QDir(home_.path()).mkdir(QString::fromLatin1(kDebugFile));
    EXPECT_FALSE(LocalDebugConfig::isEnabled(QString::fromLatin1(kSwitch)));
    qputenv(kSwitch, "1");
    EXPECT_TRUE(LocalDebugConfig::isEnabled(QString::fromLatin1(kSwitch)));
}

TEST_F(LocalDebugConfigTest, NamesThatCannotBeVariablesStillReadTheFile)
{
    // getenv would match "A=B" against an entry "A=B=1"; the variable named
    // here does not exist, so only the file can answer.
    qputenv("VELLOX_TEST_LOCAL_DEBUG_EQ", "B=1");
    EXPECT_FALSE(LocalDebugConfig::isEnabled(QStringLiteral("VELLOX_TEST_LOCAL_DEBUG_EQ=B")));
    qunsetenv("VELLOX_TEST_LOCAL_DEBUG_EQ");
    EXPECT_FALSE(LocalDebugConfig::isEnabled(QString()));
}
