#include "platform/linux/QtPasteboard.h"
#include "support/SpinUntil.h"
#include "support/StopProcess.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QProcess>
#include <QTimer>

#include <gtest/gtest.h>

using platform::linuxbackend::QtPasteboard;

namespace {

// Starting a GTK process on a loaded machine takes seconds, not milliseconds.
constexpr int kStartMs = 30000;
constexpr int kAnswerMs = 30000;
// How often the paste road looks whether the target has its text.
constexpr int kPollMs = 5;

const QString kAnswer = QStringLiteral("the answer \u00e9");
const QString kUserClipboard = QStringLiteral("the user's clipboard");

// Another X client asking for clipboard formats in a given order, as a
// toolkit does on a paste (clipboard_requester.py).
class Requester {
public:
    Requester()
    {
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral(VELLOX_CLIPBOARD_REQUESTER)});
        const QByteArray ready = nextLine(kStartMs);
        if (ready.startsWith("ready "))
            window_ = ready.mid(6).toULongLong();
    }
    ~Requester() { test_support::stopProcess(process_); }

    quint64 window() const { return window_; }

    // Asks for each format after its delay; the answers come back in order.
    void ask(const QStringList& formats, int delayMs)
    {
        QByteArray command = "ask";
        for (const QString& format : formats)
            command += ' ' + QByteArray::number(delayMs) + ' ' + format.toUtf8();
        process_.write(command + '\n');
    }

    // Asks for `format`, then keeps its event loop busy for `busyMs`, so a
    // transfer in parts waits on it meanwhile.
    void askBusy(const QString& format, int busyMs)
    {
        process_.write("ask-busy " + QByteArray::number(busyMs) + ' ' + format.toUtf8() + '\n');
    }

    // Asks for `format` from the window it started with, takes the first part
    // of the transfer in parts that answers and reads no further.
    void abandon(const QString& format) { process_.write("abandon " + format.toUtf8() + '\n'); }

    // Asks for `format` from the window it started with, as a toolkit does
    // that sends every clipboard request from one window.
    void askFromWindow(const QString& format) { process_.write("ask-window " + format.toUtf8() + '\n'); }

    // The answers to the latest ask, once all have come; the event loop runs
    // meanwhile, since this process owns the clipboard being asked for.
    QList<QJsonObject> answers()
    {
        QList<QJsonObject> result;
        for (QByteArray line = nextLine(kAnswerMs); !line.isEmpty() && line != "done"; line = nextLine(kAnswerMs))
            result.append(QJsonDocument::fromJson(line).object());
        return result;
    }

private:
    QByteArray nextLine(int timeoutMs)
    {
        test_support::spinUntil([&] { return process_.canReadLine() || process_.state() == QProcess::NotRunning; },
                                timeoutMs);
        return process_.canReadLine() ? process_.readLine().trimmed() : QByteArray();
    }

    QProcess process_;
    quint64 window_ = 0;
};

// What the paste road does after the chord: put the user's clipboard back
// as soon as the board says the target fetched the text.
class Restorer {
public:
    Restorer(QtPasteboard& board, quint64 target)
    {
        QObject::connect(&timer_, &QTimer::timeout, [this, &board, target] {
            if (!restored_ && board.fetchedByClientOf(target)) {
                board.setText(kUserClipboard);
                restored_ = true;
                restoredAfterMs_ = clock_.elapsed();
            }
        });
        clock_.start();
        timer_.start(kPollMs);
    }
    bool restored() const { return restored_; }
    qint64 restoredAfterMs() const { return restoredAfterMs_; }

private:
    QTimer timer_;
    QElapsedTimer clock_;
    bool restored_ = false;
    qint64 restoredAfterMs_ = -1;
};

// Qt gives up a transfer in parts whose requestor stops reading, and says so
// only in its debug output.
class QtGiveUps {
public:
    QtGiveUps()
    {
        current_ = this;
        QLoggingCategory::setFilterRules(QStringLiteral("qt.qpa.clipboard.debug=true"));
        previous_ = qInstallMessageHandler(&QtGiveUps::handle);
    }
    ~QtGiveUps()
    {
        qInstallMessageHandler(previous_);
        QLoggingCategory::setFilterRules(QString());
        current_ = nullptr;
    }
    int count() const { return count_; }

private:
    static void handle(QtMsgType type, const QMessageLogContext& context, const QString& message)
    {
        if (qstrcmp(context.category, "qt.qpa.clipboard") != 0) {
            if (current_->previous_)
                current_->previous_(type, context, message);
            return;
        }
        if (message.startsWith(QLatin1String("timed out while sending data")))
            ++current_->count_;
    }

    static inline QtGiveUps* current_ = nullptr;
    QtMessageHandler previous_ = nullptr;
    int count_ = 0;
};

bool isTextFormat(const QString& format)
{
    return format == QLatin1String("text/plain;charset=utf-8") || format == QLatin1String("UTF8_STRING");
}

// The text the requester got for the first text format it asked for.
std::string firstTextAnswer(const QList<QJsonObject>& answers)
{
    for (const QJsonObject& answer : answers) {
        if (isTextFormat(answer.value(QStringLiteral("format")).toString())) {
            const QJsonValue text = answer.value(QStringLiteral("text"));
            return text.isString() ? text.toString().toStdString() : "(refused)";
        }
    }
    return "(not asked)";
}

class QtPasteboardX11Test : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            GTEST_SKIP() << "needs an X display";
    }
};

} // namespace

// A toolkit asks for formats of its own and for the list first; only its
// request for a text we offer may release the restore, and that request
// gets the answer, however slowly the requests come.
TEST_F(QtPasteboardX11Test, OnlyTheTargetsRequestForOurTextReleasesTheRestore)
{
    struct Order {
        const char* toolkit;
        QStringList formats;
    };
    const Order orders[] = {
        {"GtkTextView",
         {QStringLiteral("GTK_TEXT_BUFFER_CONTENTS"), QStringLiteral("TARGETS"),
          QStringLiteral("text/plain;charset=utf-8"), QStringLiteral("UTF8_STRING")}},
        {"GtkEntry", {QStringLiteral("text/plain;charset=utf-8"), QStringLiteral("UTF8_STRING")}},
        {"Qt", {QStringLiteral("TARGETS"), QStringLiteral("UTF8_STRING")}},
    };
    QtPasteboard board;
    Requester target;
    ASSERT_NE(target.window(), 0u) << "the requester never started";
    for (const Order& order : orders) {
        for (const int delayMs : {0, 120}) {
            SCOPED_TRACE(std::string(order.toolkit) + ", " + std::to_string(delayMs) + " ms apart");
            board.setText(kAnswer);
            board.notePasteChord();
            Restorer restorer(board, target.window());
            target.ask(order.formats, delayMs);
            const QList<QJsonObject> answers = target.answers();
            ASSERT_EQ(answers.size(), order.formats.size());
            EXPECT_EQ(firstTextAnswer(answers), kAnswer.toStdString());
            EXPECT_TRUE(test_support::spinUntil([&] { return restorer.restored(); }, kAnswerMs));
        }
    }
}

// With no window to go by, a clipboard manager's fetch of every new owner's
// data is not the paste: neither one that came before the chord, nor one that
// comes after it from a client seen fetching on an earlier change of owner.
TEST_F(QtPasteboardX11Test, WithNoWindowNamedAClipboardManagersFetchIsNotThePaste)
{
    const QStringList managerFormats{QStringLiteral("TARGETS"), QStringLiteral("UTF8_STRING")};
    const QStringList pasteFormats{QStringLiteral("UTF8_STRING")};
    constexpr int kLateTargetMs = 120;
    QtPasteboard board;

    for (const bool managerSeenBefore : {false, true}) {
        SCOPED_TRACE(managerSeenBefore ? "manager fetches after the chord" : "manager fetches before the chord");
        Requester manager;
        Requester target;
        ASSERT_NE(manager.window(), 0u);
        ASSERT_NE(target.window(), 0u);
        if (managerSeenBefore) {
            board.setText(kUserClipboard);
            manager.ask(managerFormats, 0);
            ASSERT_EQ(manager.answers().size(), managerFormats.size());
        }
        board.setText(kAnswer);
        if (!managerSeenBefore) {
            manager.ask(managerFormats, 0);
            ASSERT_EQ(manager.answers().size(), managerFormats.size());
        }
        board.notePasteChord();
        Restorer restorer(board, 0);
        if (managerSeenBefore) {
            manager.ask(managerFormats, 0);
            ASSERT_EQ(manager.answers().size(), managerFormats.size());
        }
        target.ask(pasteFormats, kLateTargetMs);
        EXPECT_EQ(firstTextAnswer(target.answers()), kAnswer.toStdString());
        EXPECT_TRUE(test_support::spinUntil([&] { return restorer.restored(); }, kAnswerMs));
    }
}

// A text bigger than the largest request the server takes goes in parts, each
// once the requestor has read the one before: the restore waits for the last.
TEST_F(QtPasteboardX11Test, ATextSentInPartsIsAllSentBeforeTheRestore)
{
    const QString big(20 * 1024 * 1024, QLatin1Char('x'));
    constexpr int kBusyMs = 1000;
    QtPasteboard board;
    Requester target;
    ASSERT_NE(target.window(), 0u);
    board.setText(big);
    board.notePasteChord();
    Restorer restorer(board, target.window());
    target.askBusy(QStringLiteral("UTF8_STRING"), kBusyMs);
    const QList<QJsonObject> answers = target.answers();
    ASSERT_EQ(answers.size(), 1);
    EXPECT_EQ(answers.first().value(QStringLiteral("length")).toInteger(), big.size());
    EXPECT_EQ(answers.first().value(QStringLiteral("sha256")).toString().toLatin1(),
              QCryptographicHash::hash(big.toUtf8(), QCryptographicHash::Sha256).toHex());
    ASSERT_TRUE(test_support::spinUntil([&] { return restorer.restored(); }, kAnswerMs));
    // The requester reads nothing while it is busy; until then the parts wait.
    EXPECT_GE(restorer.restoredAfterMs(), kBusyMs);
}

// Qt keeps watching the window of a transfer in parts it gave up on. A
// toolkit that sends every clipboard request from one window pastes from it
// again later, and that short answer, sent whole, is the fetch.
TEST_F(QtPasteboardX11Test, APasteAfterAnAbandonedTransferInPartsIsFetched)
{
    const QString big(20 * 1024 * 1024, QLatin1Char('x'));
    const QString utf8 = QStringLiteral("UTF8_STRING");
    QtPasteboard board;
    Requester target;
    ASSERT_NE(target.window(), 0u);
    QtGiveUps giveUps;
    board.setText(big);
    target.abandon(utf8);
    const QList<QJsonObject> abandoned = target.answers();
    ASSERT_EQ(abandoned.size(), 1);
    ASSERT_EQ(abandoned.first().value(QStringLiteral("announced")).toInteger(), big.size())
        << "the text did not go in parts";
    const qint64 taken = abandoned.first().value(QStringLiteral("first_part")).toInteger();
    ASSERT_GT(taken, 0);
    ASSERT_LT(taken, big.size()) << "the first part was all of it";
    ASSERT_TRUE(test_support::spinUntil([&] { return giveUps.count() > 0; }, kAnswerMs))
        << "Qt never gave up the transfer";

    board.setText(kAnswer);
    board.notePasteChord();
    Restorer restorer(board, target.window());
    target.askFromWindow(utf8);
    EXPECT_EQ(firstTextAnswer(target.answers()), kAnswer.toStdString());
    ASSERT_TRUE(test_support::spinUntil([&] { return restorer.restored(); }, kAnswerMs));
    target.askFromWindow(utf8);
    EXPECT_EQ(firstTextAnswer(target.answers()), kUserClipboard.toStdString());
}
