#include "../ShortcutRoadX11Fixture.h"

#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>
#include <QTimer>

#include <iostream>

namespace {

using namespace rewrite_test;

class ShortcutRoadX11Test : public ShortcutRoadX11Fixture {};

} // namespace

TEST_F(ShortcutRoadX11Test, ReplacesTheSelectionInAnotherProcessAndKeepsTheClipboard)
{
    useLoopbackProvider();
    bePatient();
    TextWindowProcess window(QStringLiteral("hello brave world"));
    ASSERT_TRUE(window.isReady());
    ASSERT_TRUE(hasTheKeyboard(window.pid())) << "the text window never got the focus";
    window.select(6, 11);

    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->setText(QStringLiteral("clipboard before"));
    answerWith(QStringLiteral("bold"));
    runRoad();
    EXPECT_EQ(RewriteFeedbackState::shared().lastError(), std::nullopt);
    ASSERT_EQ(server.requests().size(), 1);
    EXPECT_TRUE(server.requests().first().body.contains("\"content\":\"brave\""));
    EXPECT_TRUE(rewrite_test::spinUntil([&] { return window.text() == QStringLiteral("hello bold world"); }, 10000))
        << window.text().toStdString();
    EXPECT_EQ(clipboard->text(), QStringLiteral("clipboard before"));

    // An image on the clipboard survives a rewrite.
    QImage image(32, 16, QImage::Format_RGB32);
    image.fill(QColor(200, 30, 90));
    clipboard->setImage(image);
    window.select(11, 16);
    answerWith(QStringLiteral("planet"));
    runRoad();
    EXPECT_TRUE(rewrite_test::spinUntil([&] { return window.text() == QStringLiteral("hello bold planet"); }, 10000))
        << window.text().toStdString();
    const QMimeData* data = clipboard->mimeData();
    ASSERT_TRUE(data && data->hasImage());
    const QImage kept = qvariant_cast<QImage>(data->imageData());
    EXPECT_EQ(kept.size(), image.size());
    EXPECT_EQ(kept.pixelColor(5, 5), QColor(200, 30, 90));
}

TEST_F(ShortcutRoadX11Test, NothingSelectedNeverSendsTheClipboard)
{
    TextWindowProcess window(QStringLiteral("no selection here"));
    ASSERT_TRUE(window.isReady());
    ASSERT_TRUE(hasTheKeyboard(window.pid()));
    window.select(3, 3);
    QGuiApplication::clipboard()->setText(QStringLiteral("secret password"));
    const auto read = rewrite_test::run(SelectionAutomation::readSelection());
    EXPECT_EQ(read.value->text, QString());
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("secret password"));
}

TEST_F(ShortcutRoadX11Test, ACopyThatLandsAfterTheReadGaveUpGivesTheUserTheirClipboardBack)
{
    constexpr int kCapMs = 300;
    SelectionAutomation::Waits quick;
    quick.copyCapMs = kCapMs;
    quick.lateCopyWatchMs = 30000;
    SelectionAutomation::setWaitsForTesting(quick);
    TextWindowProcess window(QStringLiteral("hello brave world"));
    ASSERT_TRUE(window.isReady());
    ASSERT_TRUE(hasTheKeyboard(window.pid()));
    window.select(6, 11);
    // Busy for five times the cap: the copy lands after the read gave up.
    ASSERT_TRUE(window.slowCopy(5 * kCapMs));
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->setText(QStringLiteral("clipboard before"));

    const auto read = rewrite_test::run(SelectionAutomation::readSelection(), 20000);
    ASSERT_TRUE(read.value);
    EXPECT_EQ(read.value->text, QString());
    const platform::Pasteboard& board = *platform::Platform::current().pasteboard;
    EXPECT_TRUE(rewrite_test::spinUntil([&] { return board.lastTakenBy(read.value->window) != platform::Pasteboard::Ownership{}; }, 20000))
        << "the window never copied";
    EXPECT_TRUE(rewrite_test::spinUntil([&] { return clipboard->text() == QStringLiteral("clipboard before"); }, 20000))
        << clipboard->text().toStdString();
}

TEST_F(ShortcutRoadX11Test, ASlowTargetBesideAClipboardManagerGetsTheAnswerOrTheUserIsToldToPaste)
{
    useLoopbackProvider();
    bePatient();
    ClipboardManager manager(home.filePath(QStringLiteral("manager")));
    ASSERT_TRUE(manager.ready());

    TextWindowProcess window(QStringLiteral("hello brave world"));
    ASSERT_TRUE(window.isReady());
    ASSERT_TRUE(hasTheKeyboard(window.pid())) << "the text window never got the focus";

    // Every other round the window is slow to paste; in the others it is
    // stopped for a moment as the provider is asked.
    constexpr int kRounds = 30;
    constexpr int kSlowMs = 300;
    int replaced = 0;
    int toldToPaste = 0;
    QClipboard* clipboard = QGuiApplication::clipboard();
    for (int round = 0; round < kRounds; ++round) {
        SCOPED_TRACE(round);
        const bool stop = round % 2 == 1;
        const QString answer = QStringLiteral("answer%1").arg(round);
        const QString userClipboard = QStringLiteral("the user's clipboard %1").arg(round);
        ASSERT_TRUE(window.reset());
        ASSERT_TRUE(window.slowPaste(stop ? 0 : kSlowMs));
        window.select(6, 11);
        clipboard->setText(userClipboard);
        answerWith(answer);

        std::optional<StoppedProcess> stopped;
        QTimer stopper;
        QTimer resumer;
        resumer.setSingleShot(true);
        QObject::connect(&resumer, &QTimer::timeout, [&] { stopped->resume(); });
        if (stop) {
            const qsizetype asked = server.requests().size();
            QObject::connect(&stopper, &QTimer::timeout, [&, asked] {
                if (server.requests().size() > asked && !stopped) {
                    stopped.emplace(window.pid());
                    resumer.start(kSlowMs);
                }
            });
            stopper.start(1);
        }
        runRoad();
        stopper.stop();
        if (stopped)
            stopped->resume();

        const QString original = QStringLiteral("hello brave world");
        const QString pasted = QStringLiteral("hello %1 world").arg(answer);
        const auto error = RewriteFeedbackState::shared().lastError();
        if (!error) {
            ++replaced;
            EXPECT_TRUE(rewrite_test::spinUntil([&] { return window.text() == pasted; }, 10000)) << window.text().toStdString();
            EXPECT_EQ(clipboard->text(), userClipboard);
        } else {
            ++toldToPaste;
            EXPECT_EQ(error->text, QStringLiteral("New text is on the clipboard \u2014 paste to finish."));
            EXPECT_EQ(clipboard->text(), answer);
            const QString now = window.text();
            EXPECT_TRUE(now == original || now == pasted) << now.toStdString();
        }
    }
    std::cout << "rounds: " << kRounds << ", replaced and clipboard restored: " << replaced
              << ", told to paste with the answer on the clipboard: " << toldToPaste << std::endl;
    RecordProperty("replaced", replaced);
    RecordProperty("toldToPaste", toldToPaste);
}

// GTK asks for formats of its own and for the list of formats before the
// text, one reply at a time; a busy GTK application asks them late. Beside a
// clipboard manager, which asks for every new owner's data at once.
TEST_F(ShortcutRoadX11Test, ABusyGtkTargetBesideAClipboardManagerGetsTheAnswerAndTheUserKeepsTheirClipboard)
{
    struct Case {
        const char* name;
        TextWindowProcess::GtkWidget widget;
        int busyMs;
    };
    const Case cases[] = {
        {"GtkTextView busy 100 ms", TextWindowProcess::GtkWidget::textView, 100},
        {"GtkEntry busy 300 ms", TextWindowProcess::GtkWidget::entry, 300},
    };
    constexpr int kRounds = 10;
    useLoopbackProvider();
    bePatient();
    ClipboardManager manager(home.filePath(QStringLiteral("manager")));
    ASSERT_TRUE(manager.ready());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::cout << c.name << ": ";
        TextWindowProcess window(c.widget, QStringLiteral("hello brave world"));
        ASSERT_TRUE(window.isReady()) << "the GTK window never started";
        ASSERT_TRUE(hasTheKeyboard(window.pid())) << "the GTK window never got the focus";
        EXPECT_EQ(roundsThatHold(window, kRounds, c.busyMs), kRounds);
    }
}

TEST_F(ShortcutRoadX11Test, AProgramRunningInXtermIsNotInterrupted)
{
    useLoopbackProvider();

    const QString pidFile = home.filePath(QStringLiteral("sleep.pid"));
    QProcess xterm;
    xterm.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    xterm.setStandardOutputFile(QProcess::nullDevice());
    xterm.setStandardErrorFile(QProcess::nullDevice());
    xterm.start(QStringLiteral("xterm"),
                {QStringLiteral("-geometry"), QStringLiteral("60x5+0+0"), QStringLiteral("-e"), QStringLiteral("sh"),
                 QStringLiteral("-c"), QStringLiteral("printf 'brave\\n'; echo $$ > '%1'; exec sleep 100").arg(pidFile)});
    ASSERT_TRUE(xterm.waitForStarted(10000));
    qint64 sleepPid = 0;
    ASSERT_TRUE(rewrite_test::spinUntil([&] {
        QFile file(pidFile);
        sleepPid = file.open(QIODevice::ReadOnly) ? file.readAll().trimmed().toLongLong() : 0;
        return sleepPid > 0;
    }, kFocusWaitMs));
    std::optional<platform::Workspace::FrontApplication> front;
    ASSERT_TRUE(rewrite_test::spinUntil([&] {
        front = platform::Platform::current().workspace->frontmostApplication();
        return front && front->pid == xterm.processId();
    }, kFocusWaitMs)) << "xterm never got the focus";

    // Selecting the line, as a user does with three clicks.
    QProcess::execute(QStringLiteral("xdotool"),
                      {QStringLiteral("mousemove"), QStringLiteral("--window"), QString::number(front->window),
                       QStringLiteral("20"), QStringLiteral("6"), QStringLiteral("click"), QStringLiteral("--repeat"),
                       QStringLiteral("3"), QStringLiteral("--delay"), QStringLiteral("80"), QStringLiteral("1")});
    QClipboard* clipboard = QGuiApplication::clipboard();
    ASSERT_TRUE(rewrite_test::spinUntil([&] {
        return clipboard->text(QClipboard::Selection).trimmed() == QStringLiteral("brave");
    }, 10000)) << "the line was never selected";

    clipboard->setText(QStringLiteral("clipboard before"));
    answerWith(QStringLiteral("bold"));
    runRoad();

    ASSERT_EQ(server.requests().size(), 1);
    EXPECT_TRUE(server.requests().first().body.contains("\"content\":\"brave\""));
    EXPECT_EQ(RewriteFeedbackState::shared().lastError(),
              RewriteFeedbackMessage({QStringLiteral("New text is on the clipboard \u2014 paste to finish."),
                                      RewriteFeedbackMessage::Level::error, std::nullopt}));
    EXPECT_EQ(clipboard->text(), QStringLiteral("bold"));
    // The program in the terminal runs on: no ^C reached it.
    EXPECT_EQ(::kill(pid_t(sleepPid), 0), 0);
    QFile stat(QStringLiteral("/proc/%1/stat").arg(sleepPid));
    ASSERT_TRUE(stat.open(QIODevice::ReadOnly));
    EXPECT_FALSE(stat.readAll().contains(") Z ")) << "the program in the terminal was stopped";
    EXPECT_EQ(xterm.state(), QProcess::Running);

    ::kill(pid_t(sleepPid), SIGTERM);
    if (!xterm.waitForFinished(10000))
        xterm.kill();
    xterm.waitForFinished(2000);
}
