// The program and a real tray host (trayer) under Xvfb, started in the order
// a login session often starts them: Vellox first, the panel after it.
#include "support/SpinUntil.h"
#include "support/TempHome.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <functional>

namespace {

// Generous for a loaded two-core machine running sanitizers.
constexpr int kStartMs = 30'000;
// How soon after the tray host shows its panel the icon must be in it.
constexpr int kDockMs = 2000;
// The program waits this long for a host before it tells the user.
constexpr int kNoticeMs = 40'000;

using test_support::spinUntil;

QByteArray run(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(10000);
    return process.readAllStandardOutput();
}

// The id of the first window whose xwininfo line matches, searched from `root`.
QString findWindow(const QRegularExpression& line, const QString& root = {})
{
    const QStringList arguments = root.isEmpty() ? QStringList{QStringLiteral("-root"), QStringLiteral("-tree")}
                                                 : QStringList{QStringLiteral("-tree"), QStringLiteral("-id"), root};
    for (const QString& text : QString::fromLocal8Bit(run(QStringLiteral("xwininfo"), arguments)).split('\n')) {
        if (line.match(text).hasMatch())
            return text.trimmed().section(' ', 0, 0);
    }
    return {};
}

class TrayHostX11 : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            GTEST_SKIP() << "needs an X display (scripts/test runs it under Xvfb)";
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        environment.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));
        program_.setProcessEnvironment(environment);
        program_.setProcessChannelMode(QProcess::MergedChannels);
        program_.start(QStringLiteral(VELLOX_BINARY), {});
        ASSERT_TRUE(program_.waitForStarted(5000));
        // Up once it shows a window (onboarding, with an empty home).
        ASSERT_TRUE(spinUntil([] { return !findWindow(QRegularExpression(QStringLiteral(R"(\("vellox" "Vellox"\))"))).isEmpty(); },
                              kStartMs))
            << "the program showed no window";
    }

    void TearDown() override
    {
        for (QProcess* process : {&trayer_, &program_}) {
            if (process->state() == QProcess::NotRunning)
                continue;
            process->terminate();
            if (!process->waitForFinished(5000))
                process->kill();
            process->waitForFinished(5000);
        }
        if (HasFailure())
            std::fprintf(stderr, "--- vellox output ---\n%s\n", program_.readAll().constData());
    }

    TempHome home_;
    QProcess program_;
    QProcess trayer_;
};

TEST_F(TrayHostX11, IconDocksInATrayHostThatStartsAfterTheProgram)
{
    trayer_.start(QStringLiteral("trayer"), {QStringLiteral("--edge"), QStringLiteral("top"), QStringLiteral("--align"),
                                            QStringLiteral("right"), QStringLiteral("--widthtype"),
                                            QStringLiteral("request"), QStringLiteral("--height"), QStringLiteral("24")});
    ASSERT_TRUE(trayer_.waitForStarted(5000));
    QString panel;
    ASSERT_TRUE(spinUntil(
        [&] {
            panel = findWindow(QRegularExpression(QStringLiteral(R"(\("panel" "trayer"\))")));
            return !panel.isEmpty();
        },
        kStartMs))
        << "trayer showed no panel";
    QElapsedTimer sincePanel;
    sincePanel.start();
    const QRegularExpression icon(QStringLiteral(R"("Vellox": \("vellox" "Vellox"\))"));
    ASSERT_TRUE(spinUntil([&] { return !findWindow(icon, panel).isEmpty(); }, kStartMs))
        << "the icon never docked";
    EXPECT_LE(sincePanel.elapsed(), kDockMs) << "docked only after " << sincePanel.elapsed() << " ms";
    // The docked window is an XEmbed client the host embedded.
    const QString docked = findWindow(icon, panel);
    EXPECT_TRUE(run(QStringLiteral("xprop"), {QStringLiteral("-id"), docked, QStringLiteral("_XEMBED_INFO")})
                    .contains("_XEMBED_INFO("));
}

TEST_F(TrayHostX11, WithoutATrayHostTheUserIsToldInAWindowOnceOurWindowsAreClosed)
{
    // The notice waits while onboarding or the settings may have the
    // keyboard; the user closes each window of ours that opens, as its close
    // button does, until the notice comes. This session has no notification
    // server, so the notice is a window.
    QByteArray notice;
    ASSERT_TRUE(spinUntil(
        [&] {
            const QByteArray shown = run(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                                                     QStringLiteral("--classname"), QStringLiteral("^vellox$")});
            for (const QByteArray& window : shown.trimmed().split('\n')) {
                if (window.isEmpty())
                    continue;
                if (run(QStringLiteral("xdotool"), {QStringLiteral("getwindowname"), QString::fromLatin1(window)}).trimmed()
                    == "Vellox has no tray icon")
                    notice = window;
                else
                    run(QStringLiteral("wmctrl"), {QStringLiteral("-i"), QStringLiteral("-c"), QString::fromLatin1(window)});
            }
            return !notice.isEmpty();
        },
        kNoticeMs))
        << "no notice about the missing tray";
    // It does not take the keyboard.
    EXPECT_NE(run(QStringLiteral("xdotool"), {QStringLiteral("getactivewindow")}).trimmed(), notice);
}

} // namespace
