#include "Vellox/settings/VelloxLogStore.h"

#include "platform/Platform.h"
#include "platform/fake/FakeClock.h"
#include "platform/fake/FakePlatform.h"
#include "support/TempHome.h"

#include <QByteArrayList>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSet>

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include <sys/stat.h>

using VelloxLogStore::Entry;
using VelloxLogStore::Level;

namespace {

constexpr qint64 kRotateAbove = 262'144;
constexpr qint64 kKeptTail = 65'536;
const QString kStamp = QStringLiteral("2026-03-04T05:06:07.089Z");

class VelloxLogStoreTest : public ::testing::Test {
protected:
    VelloxLogStoreTest()
    {
        platform::fake::as<platform::fake::FakeClock>(guard.platform().clock)
            .set(QDateTime(QDate(2026, 3, 4), QTime(5, 6, 7, 89), Qt::UTC));
    }

    // Nothing queued may outlive the temporary home or the fakes.
    ~VelloxLogStoreTest() override { VelloxLogStore::waitForPendingWrites(); }

    static QString logPath() { return VelloxLogStore::fileURL().toLocalFile(); }

    static QByteArray fileBytes()
    {
        QFile file(logPath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    // The file's lines, each of which must end in a line feed.
    static QStringList fileLines()
    {
        const QByteArray bytes = fileBytes();
        EXPECT_TRUE(bytes.isEmpty() || bytes.endsWith('\n'));
        QStringList lines;
        for (const QByteArray& line : bytes.chopped(bytes.isEmpty() ? 0 : 1).split('\n'))
            lines.append(QString::fromUtf8(line));
        if (bytes.isEmpty())
            lines.clear();
        return lines;
    }

    static void writeFile(const QByteArray& bytes)
    {
        QDir().mkpath(QFileInfo(logPath()).absolutePath());
        QFile file(logPath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ASSERT_EQ(file.write(bytes), bytes.size());
    }

    static void recordAndWait(const Entry& entry)
    {
        VelloxLogStore::record(entry);
        VelloxLogStore::waitForPendingWrites();
    }

    TempHome home;
    platform::PlatformGuard guard;
};

unsigned modeOf(const QString& path)
{
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode & 07777 : 0;
}

Entry failure(QString code, QString msg)
{
    return Entry{.level = Level::error, .code = std::move(code), .msg = std::move(msg)};
}

TEST_F(VelloxLogStoreTest, LinesMatchTheFileFormat)
{
    struct Case {
        const char* name;
        Entry input;
        QString expected;
    };
    const QString detail = QStringLiteral("  HTTP 502:\t\tbad\r\n gateway  ");
    const Case cases[] = {
        {"bare entry has four fields",
         {.level = Level::error, .code = "permission_denied", .msg = "Vellox needs Accessibility permission."},
         kStamp + R"( ERROR code=permission_denied msg="Vellox needs Accessibility permission.")"},
        {"empty detail is left out", {.level = Level::info, .code = "c", .msg = "m", .detail = QString()},
         kStamp + R"( INFO code=c msg="m")"},
        {"every field in order",
         {.level = Level::warn, .code = "paste_failed", .msg = "New text is on the clipboard — paste to finish.",
          .provider = "anthropic", .model = "claude-sonnet-4", .detail = "Paste failed"},
         kStamp + R"( WARN code=paste_failed provider=anthropic model=claude-sonnet-4 )"
             + QString::fromUtf8(R"(msg="New text is on the clipboard — paste to finish." detail="Paste failed")")},
        {"present but empty provider and model keep their fields",
         {.level = Level::error, .code = "c", .msg = "m", .provider = "", .model = ""},
         kStamp + R"( ERROR code=c provider= model= msg="m")"},
        {"model with a space is quoted", {.level = Level::error, .code = "c", .msg = "m", .model = "my model"},
         kStamp + R"( ERROR code=c model="my model" msg="m")"},
        {"model with a double quote is quoted and escaped",
         {.level = Level::error, .code = "c", .msg = "m", .model = R"(a"b\c)"},
         kStamp + R"( ERROR code=c model="a\"b\\c" msg="m")"},
        {"model with a backslash alone stays bare", {.level = Level::error, .code = "c", .msg = "m", .model = R"(a\b)"},
         kStamp + R"( ERROR code=c model=a\b msg="m")"},
        {"model with a tab is quoted", {.level = Level::error, .code = "c", .msg = "m", .model = "a\tb"},
         kStamp + " ERROR code=c model=\"a\tb\" msg=\"m\""},
        {"model with a line feed stays on the line",
         {.level = Level::error, .code = "c", .msg = "m", .model = "gpt\n2026-01-01T00:00:00.000Z INFO code=forged"},
         kStamp + R"( ERROR code=c model="gpt 2026-01-01T00:00:00.000Z INFO code=forged" msg="m")"},
        {"model with a control character is quoted",
         {.level = Level::error, .code = "c", .msg = "m", .model = QStringLiteral("a\u001bb")},
         kStamp + QStringLiteral(" ERROR code=c model=\"a\u001bb\" msg=\"m\"")},
        {"code and provider with line breaks stay on the line",
         {.level = Level::error, .code = "http_500\r\nx", .msg = "m", .provider = QStringLiteral("p\u2028q")},
         kStamp + R"( ERROR code="http_500  x" provider="p q" msg="m")"},
        {"message escapes backslash and quote and flattens line breaks",
         failure("c", QStringLiteral("a\\b \"c\"\nd\re\u2029f\u0085g\vh\fi")),
         kStamp + R"( ERROR code=c msg="a\\b \"c\" d e f g h i")"},
        {"message keeps tabs and runs of spaces", failure("c", "a\t\tb  c"),
         kStamp + " ERROR code=c msg=\"a\t\tb  c\""},
        {"detail whitespace runs become single spaces, ends included",
         {.level = Level::error, .code = "c", .msg = "m", .detail = detail},
         kStamp + R"( ERROR code=c msg="m" detail=" HTTP 502: bad gateway ")"},
        {"detail of only whitespace becomes one space",
         {.level = Level::error, .code = "c", .msg = "m", .detail = QStringLiteral("\n\u2028\t")},
         kStamp + R"( ERROR code=c msg="m" detail=" ")"},
        {"detail is escaped after condensing",
         {.level = Level::error, .code = "c", .msg = "m", .detail = R"({"error": "C:\x"})"},
         kStamp + R"( ERROR code=c msg="m" detail="{\"error\": \"C:\\x\"}")"},
    };
    for (const Case& c : cases)
        VelloxLogStore::record(c.input);
    VelloxLogStore::waitForPendingWrites();

    const QStringList lines = fileLines();
    ASSERT_EQ(lines.size(), std::size(cases));
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].name);
        EXPECT_EQ(lines[int(i)], cases[i].expected);
    }
}

TEST_F(VelloxLogStoreTest, DetailIsCutAfterSixHundredUserPerceivedCharacters)
{
    const QString a599(599, u'a');
    const QString family = QStringLiteral("\U0001F468\u200D\U0001F469\u200D\U0001F467");
    const QString flag = QStringLiteral("\U0001F1E9\U0001F1EA");
    const QString accented = QStringLiteral("e\u0301");
    // 704 characters that condense to 616.
    const QString tabbed = QStringLiteral("abcdef\t\n").repeated(88);
    const QString tabbedCondensed = QStringLiteral("abcdef ").repeated(88).left(600);

    struct Case {
        const char* name;
        QString input;
        QString expected;
    };
    const QString ellipsis = QStringLiteral("\u2026");
    const Case cases[] = {
        {"704 characters with tabs and line breaks", tabbed, tabbedCondensed + ellipsis},
        {"exactly 600 after condensing is whole", QString(300, u'x') + "\t\t\n" + QString(299, u'y'),
         QString(300, u'x') + ' ' + QString(299, u'y')},
        {"601 characters", QString(601, u'z'), QString(600, u'z') + ellipsis},
        {"emoji sequence at the cut is not split", a599 + family + "tail", a599 + family + ellipsis},
        {"flag at the cut is not split", a599 + flag + flag, a599 + flag + ellipsis},
        {"combining sequence at the cut is not split", a599 + accented + "x", a599 + accented + ellipsis},
        {"600 emoji take more code units but are whole", family.repeated(600), family.repeated(600)},
    };
    for (const Case& c : cases)
        VelloxLogStore::record({.level = Level::error, .code = "c", .msg = "m", .detail = c.input});
    VelloxLogStore::waitForPendingWrites();

    const QStringList lines = fileLines();
    ASSERT_EQ(lines.size(), std::size(cases));
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].name);
        EXPECT_EQ(lines[int(i)], kStamp + R"( ERROR code=c msg="m" detail=")" + cases[i].expected + '"');
    }
}

TEST_F(VelloxLogStoreTest, CreatesMissingFolderAndFileThenAppendsInOrder)
{
    ASSERT_FALSE(QFileInfo::exists(QFileInfo(logPath()).absolutePath()));
    VelloxLogStore::record(failure("first", "one"));
    VelloxLogStore::record(failure("second", "two"));
    VelloxLogStore::waitForPendingWrites();

    EXPECT_EQ(fileLines(), QStringList({kStamp + R"( ERROR code=first msg="one")",
                                        kStamp + R"( ERROR code=second msg="two")"}));
    EXPECT_EQ(QFileInfo(logPath()).permissions() & (QFile::ReadGroup | QFile::ReadOther), 0);
}

TEST_F(VelloxLogStoreTest, AppendsToAnExistingFileWithoutTouchingItsLines)
{
    struct Case {
        const char* name;
        QByteArray before;
        QByteArray kept;
    };
    // A writer killed in the middle of a line leaves it without its line feed.
    const Case cases[] = {
        {"whole lines", "earlier line\n", "earlier line\n"},
        {"torn last line", "earlier line\n2026-03-04T05:06:07.0", "earlier line\n2026-03-04T05:06:07.0\n"},
        {"empty file", "", ""},
    };
    const QByteArray recorded = (kStamp + R"( ERROR code=c msg="m")" + '\n').toUtf8();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(c.before);
        recordAndWait(failure("c", "m"));
        EXPECT_EQ(fileBytes(), c.kept + recorded);
    }
}

TEST_F(VelloxLogStoreTest, LinesStillQueuedWhenTheProgramReturnsFromMainAllReachTheFile)
{
    constexpr int kLines = 300;
    QProcess child;
    child.setProgram(QStringLiteral(VELLOX_LOG_STORE_CHILD));
    child.setArguments({QString::number(kLines)});
    // The sanitizers' reports go to the test's output.
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    child.start();
    ASSERT_TRUE(child.waitForFinished(120'000));
    EXPECT_EQ(child.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(child.exitCode(), 0);

    const QStringList lines = fileLines();
    ASSERT_EQ(lines.size(), kLines);
    for (int i = 0; i < kLines; ++i)
        EXPECT_EQ(lines[i].section(u' ', 2, 2), QStringLiteral("code=line_%1").arg(i)) << lines[i].toStdString();
}

TEST_F(VelloxLogStoreTest, FoldersItMakesAndItsOwnFolderAreTheOwnersOnly)
{
    // The usual umask, under which folders come out 0755.
    struct Umask {
        mode_t saved = ::umask(022);
        ~Umask() { ::umask(saved); }
    } umask;
    const QString folder = QFileInfo(logPath()).absolutePath();
    const QString stateHome = QFileInfo(folder).absolutePath();
    ASSERT_FALSE(QFileInfo::exists(stateHome));
    recordAndWait(failure("first", "m"));
    EXPECT_EQ(modeOf(stateHome), 0700u);
    EXPECT_EQ(modeOf(folder), 0700u);

    // Found wider, as an earlier version made it.
    ASSERT_EQ(::chmod(QFile::encodeName(folder).constData(), 0755), 0);
    recordAndWait(failure("second", "m"));
    EXPECT_EQ(modeOf(folder), 0700u);
    EXPECT_EQ(fileLines().size(), 2);
}

TEST_F(VelloxLogStoreTest, FileLivesUnderTheXdgStateFolder)
{
    struct Case {
        const char* name;
        std::optional<QString> stateHome;
        QString expected;
    };
    const Case cases[] = {
        {"XDG_STATE_HOME set", home.filePath("state"), home.filePath("state") + "/Vellox/vellox.log"},
        {"XDG_STATE_HOME unset", std::nullopt, home.path() + "/.local/state/Vellox/vellox.log"},
        {"relative XDG_STATE_HOME ignored", QStringLiteral("relative/state"),
         home.path() + "/.local/state/Vellox/vellox.log"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.stateHome)
            qputenv("XDG_STATE_HOME", QFile::encodeName(*c.stateHome));
        else
            qunsetenv("XDG_STATE_HOME");
        EXPECT_EQ(VelloxLogStore::fileURL(), QUrl::fromLocalFile(c.expected));
        recordAndWait(failure("c", "m"));
        EXPECT_TRUE(QFileInfo::exists(c.expected));
    }
}

// Lines of `lineLength` bytes laid out backwards from the end, so line starts
// fall at fixed distances from the end of the file; the first line takes what
// is left over.
QByteArray filler(qint64 size, qint64 lineLength)
{
    QByteArray bytes;
    qint64 remainder = size % lineLength;
    if (remainder > 0)
        bytes += QByteArray(remainder - 1, '-') + '\n';
    for (qint64 n = 0; n < size / lineLength; ++n)
        bytes += QByteArray::number(n).rightJustified(lineLength - 1, '.') + '\n';
    return bytes;
}

TEST_F(VelloxLogStoreTest, RotatesOnlyPastTheThresholdAndKeepsWholeLines)
{
    const QByteArray header = ("--- truncated at " + kStamp + " ---\n").toUtf8();
    struct Case {
        const char* name;
        qint64 sizeAfterAppend;
        int msgLength;
        bool rotated;
        bool keepsWholeTail;
    };
    // Filler lines are 100 bytes long. A recorded line of 136 bytes (a
    // 91-character message) puts a line start exactly where the kept 65,536
    // bytes begin; a shorter one puts that point inside a line.
    const Case cases[] = {
        {"262,144 bytes stays", kRotateAbove, 1, false, false},
        {"262,145 bytes rotates", kRotateAbove + 1, 1, true, false},
        {"tail beginning on a line start keeps that line", kRotateAbove + 1, 91, true, true},
        {"much larger file rotates", 1'000'000, 1, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Entry entry = failure("c", QString(c.msgLength, u'm'));
        const QByteArray recorded = (kStamp + R"( ERROR code=c msg=")" + entry.msg + "\"\n").toUtf8();
        QByteArray original = filler(c.sizeAfterAppend - recorded.size(), 100);
        writeFile(original);
        recordAndWait(entry);
        original += recorded;
        ASSERT_EQ(original.size(), c.sizeAfterAppend);

        const QByteArray after = fileBytes();
        if (!c.rotated) {
            EXPECT_EQ(after, original);
            continue;
        }
        ASSERT_TRUE(after.startsWith(header));
        const QByteArray kept = after.mid(header.size());
        ASSERT_LE(kept.size(), kKeptTail);
        ASSERT_TRUE(original.endsWith(kept));
        // `kept` begins on a line start, and no line starts between the start
        // of the last 65,536 bytes and it: it is the first whole line there.
        const qint64 keptStart = original.size() - kept.size();
        const qint64 tailStart = original.size() - kKeptTail;
        EXPECT_EQ(original[keptStart - 1], '\n');
        EXPECT_EQ(original.mid(tailStart - 1, keptStart - tailStart).indexOf('\n'), -1);
        EXPECT_EQ(kept.size() == kKeptTail, c.keepsWholeTail);
        EXPECT_TRUE(kept.endsWith(recorded));
    }
}

TEST_F(VelloxLogStoreTest, RotatedFileKeepsTakingLines)
{
    QByteArray big;
    while (big.size() < kRotateAbove)
        big += QByteArray(99, 'x') + '\n';
    writeFile(big);
    recordAndWait(failure("first", "m"));
    platform::fake::as<platform::fake::FakeClock>(guard.platform().clock).advance(1000);
    recordAndWait(failure("second", "m"));

    const QStringList lines = fileLines();
    ASSERT_GE(lines.size(), 3);
    EXPECT_EQ(lines.first(), "--- truncated at " + kStamp + " ---");
    EXPECT_EQ(lines[lines.size() - 2], kStamp + R"( ERROR code=first msg="m")");
    EXPECT_EQ(lines.last(), R"(2026-03-04T05:06:08.089Z ERROR code=second msg="m")");
}

TEST_F(VelloxLogStoreTest, EightThreadsWritingAtOnceLoseNoEntry)
{
    constexpr int kThreads = 8;
    constexpr int kPerThread = 250;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < kPerThread; ++i)
                VelloxLogStore::record(failure(QStringLiteral("t%1_%2").arg(t).arg(i), "m"));
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    VelloxLogStore::waitForPendingWrites();

    const QStringList lines = fileLines();
    ASSERT_EQ(lines.size(), kThreads * kPerThread);
    int next[kThreads] = {};
    for (const QString& line : lines) {
        const QString code = line.section(u' ', 2, 2).mid(QStringLiteral("code=t").size());
        const int t = code.section(u'_', 0, 0).toInt();
        ASSERT_TRUE(t >= 0 && t < kThreads) << line.toStdString();
        // Lines of one thread arrive in the order that thread recorded them.
        EXPECT_EQ(code.section(u'_', 1, 1).toInt(), next[t]++) << line.toStdString();
    }
}

} // namespace
