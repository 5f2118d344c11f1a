#include "../TextWindowProcess.h"

#include "platform/KeySynthesizer.h"
#include "platform/TerminalWindows.h"
#include "platform/Workspace.h"
#include "platform/linux/XTestKeySynthesizer.h"
#include "platform/linux/X11Workspace.h"

#include <QGuiApplication>

#include <gtest/gtest.h>

namespace {

// A window of a new process gets the focus quickly, but not on a loaded machine.
constexpr int kFocusWaitMs = 15000;

using Chord = platform::KeySynthesizer::Chord;

// Qt's key and modifier values, as the text window prints them.
const QByteArray kKeyC = QByteArray::number(Qt::Key_C, 16);
const QByteArray kKeyV = QByteArray::number(Qt::Key_V, 16);
const QByteArray kControl = QByteArray::number(int(Qt::ControlModifier), 16);
const QByteArray kControlShift = QByteArray::number(int(Qt::ControlModifier | Qt::ShiftModifier), 16);

class KeySynthesizerX11Test : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            GTEST_SKIP() << "needs an X display";
    }

    bool waitForFocus(const TextWindowProcess& window)
    {
        return rewrite_test::spinUntil([&] {
            const auto front = workspace.frontmostApplication();
            return front && front->pid == window.pid();
        }, kFocusWaitMs);
    }

    // The press of the letter among the reported events.
    static QByteArray letterPress(const QList<QByteArray>& events, const QByteArray& key)
    {
        for (const QByteArray& event : events) {
            if (event.startsWith("press " + key + ' '))
                return event;
        }
        return {};
    }

    platform::linuxbackend::X11Workspace workspace;
    platform::linuxbackend::XTestKeySynthesizer keys;
};

} // namespace

TEST(TerminalWindowsTest, TerminalsGetTheChordTheirDefaultsBind)
{
    using platform::ChordStyle;
    struct Case {
        const char* className;
        const char* instance;
        ChordStyle style;
    };
    const Case cases[] = {
        {"Gnome-terminal", "gnome-terminal-server", ChordStyle::controlShift},
        {"konsole", "konsole", ChordStyle::controlShift},
        {"Alacritty", "Alacritty", ChordStyle::controlShift},
        {"kitty", "kitty", ChordStyle::controlShift},
        {"XTerm", "xterm", ChordStyle::none},
        {"UXTerm", "uxterm", ChordStyle::none},
        {"URxvt", "urxvt", ChordStyle::none},
        {"firefox", "Navigator", ChordStyle::control},
        {"Gedit", "gedit", ChordStyle::control},
        {"", "", ChordStyle::control},
        {"Xterminal-notes", "notes", ChordStyle::control},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.className);
        EXPECT_EQ(platform::chordStyleForWindowClass(QString::fromLatin1(c.className), QString::fromLatin1(c.instance)), c.style);
    }
}

TEST_F(KeySynthesizerX11Test, CopyCarriesControlAloneAndPutsHeldModifiersBack)
{
    TextWindowProcess window(QStringLiteral("text"));
    ASSERT_TRUE(window.isReady() && waitForFocus(window));
    ASSERT_EQ(QProcess::execute(QStringLiteral("xdotool"), {QStringLiteral("keydown"), QStringLiteral("alt")}), 0);
    const int before = int(window.keyEvents(1).size());

    EXPECT_EQ(keys.post(Chord::copy), platform::KeySynthesizer::Result::posted);
    // Alt up, Control down, C down and up, Control up, Alt down again.
    const QList<QByteArray> events = window.keyEvents(before + 6).mid(before);
    EXPECT_EQ(letterPress(events, kKeyC), "press " + kKeyC + ' ' + kControl);
    // Alt went up for the chord and came back down after it.
    ASSERT_FALSE(events.isEmpty());
    EXPECT_TRUE(events.first().startsWith("release " + QByteArray::number(Qt::Key_Alt, 16)));
    EXPECT_TRUE(events.last().startsWith("press " + QByteArray::number(Qt::Key_Alt, 16)));
    QProcess::execute(QStringLiteral("xdotool"), {QStringLiteral("keyup"), QStringLiteral("alt")});
}

TEST_F(KeySynthesizerX11Test, TerminalsGetControlShiftSoACopyNeverInterrupts)
{
    // "-name" gives the window the WM_CLASS instance of a terminal.
    TextWindowProcess window(QStringLiteral("$ sleep 100"), QProcessEnvironment::systemEnvironment(),
                             {QStringLiteral("-name"), QStringLiteral("gnome-terminal-server")});
    ASSERT_TRUE(window.isReady() && waitForFocus(window));
    ASSERT_EQ(workspace.frontmostApplication()->instanceName, QStringLiteral("gnome-terminal-server"));

    EXPECT_EQ(keys.post(Chord::copy), platform::KeySynthesizer::Result::posted);
    EXPECT_EQ(letterPress(window.keyEvents(4), kKeyC), "press " + kKeyC + ' ' + kControlShift);
    EXPECT_EQ(keys.post(Chord::paste), platform::KeySynthesizer::Result::posted);
    EXPECT_EQ(letterPress(window.keyEvents(10), kKeyV), "press " + kKeyV + ' ' + kControlShift);
}

TEST_F(KeySynthesizerX11Test, ATerminalWithoutAKnownCopyChordIsTypedNothing)
{
    TextWindowProcess window(QStringLiteral("$ sleep 100"), QProcessEnvironment::systemEnvironment(),
                             {QStringLiteral("-name"), QStringLiteral("xterm")});
    ASSERT_TRUE(window.isReady() && waitForFocus(window));
    EXPECT_EQ(keys.post(Chord::copy), platform::KeySynthesizer::Result::noKnownChord);
    EXPECT_EQ(keys.post(Chord::paste), platform::KeySynthesizer::Result::noKnownChord);
    // A key typed now is the first the window gets.
    ASSERT_EQ(QProcess::execute(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("x")}), 0);
    const QList<QByteArray> events = window.keyEvents(2);
    ASSERT_FALSE(events.isEmpty());
    EXPECT_TRUE(events.first().startsWith("press " + QByteArray::number(Qt::Key_X, 16))) << events.first().toStdString();
}
