// The recorder on a real keyboard: key events from the X server, made with
// xdotool, with our own hot keys and another client's grabs in place.
#include "X11TestSupport.h"

#include "GlobalShortcuts/HandlerRegistry.h"
#include "GlobalShortcuts/RecorderCocoa.h"
#include "GlobalShortcuts/Storage.h"
#include "GlobalShortcuts/Texts.h"

#include <QApplication>
#include <QLocale>
#include <QVBoxLayout>

using namespace shortcuts_test;
using platform::linuxbackend::X11HotKeyBackend;

namespace {

class X11Recorder : public X11ShortcutsTest {
protected:
    X11Recorder() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }
    ~X11Recorder() override { QLocale::setDefault(QLocale::system()); }

    void SetUp() override
    {
        X11ShortcutsTest::SetUp();
        auto* layout = new QVBoxLayout(window.get());
        recorder = new RecorderCocoa(name, [this](const std::optional<Shortcut>& s) { changed.append(s); });
        layout->addWidget(recorder);
        layout->addWidget(new QLineEdit);
        window->show();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
        // The focus guard of a freshly shown window lasts one turn of the loop.
        ASSERT_TRUE(startRecording());
    }
    void TearDown() override { window.reset(); }

    std::optional<Shortcut> stored() const { return getShortcut(name); }
    // Lets the X server's events arrive, and a little more so a stray one would too.
    static void settle() { QTest::qWait(200); }
    // Gives the recorder the focus until it records; a freshly shown window
    // refuses it for one turn of the loop, which a loaded machine delays.
    bool startRecording()
    {
        return QTest::qWaitFor([this] {
            recorder->setFocus(Qt::MouseFocusReason);
            return recorder->isRecording();
        }, 20000);
    }
    // Waits for what the recorder shows.
    bool shows(const QString& text)
    {
        return QTest::qWaitFor([&] { return recorder->text() == text; }, 20000);
    }

    const Name name{QStringLiteral("rephraseSelection")};
    QList<std::optional<Shortcut>> changed;
    std::unique_ptr<QWidget> window = std::make_unique<QWidget>();
    RecorderCocoa* recorder = nullptr;
};

} // namespace

TEST_F(X11Recorder, ModifiersAloneOnlyShowThemselvesUntilAKeyCompletesThem)
{
    struct Case {
        const char* key;
        QString shown;
    };
    const Case cases[] = {
        {"ctrl", QStringLiteral("⌃")},        {"shift", QStringLiteral("⇧")},
        {"alt", QStringLiteral("⌥")},         {"super", QStringLiteral("⌘")},
        {"ISO_Level3_Shift", QStringLiteral("⌥")}, {"Caps_Lock", QString()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key);
        xdotool({"keydown", c.key});
        EXPECT_TRUE(shows(c.shown));
        settle();
        EXPECT_TRUE(recorder->isRecording());
        EXPECT_FALSE(stored());
        EXPECT_EQ(recorder->text(), c.shown);
        xdotool({"keyup", c.key});
        EXPECT_TRUE(shows(QString()));
        EXPECT_EQ(recorder->text(), QString());
    }
    // Caps Lock pressed once above stays on; turn it off again.
    xdotool({"key", "Caps_Lock"});
    EXPECT_EQ(beeper().beeps(), 0);
    EXPECT_TRUE(changed.isEmpty());

    // Control, then T, typed for real.
    xdotool({"keydown", "ctrl"});
    EXPECT_TRUE(shows(QStringLiteral("⌃")));
    EXPECT_EQ(recorder->text(), QStringLiteral("⌃"));
    xdotool({"keydown", "t", "keyup", "t", "keyup", "ctrl"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return !recorder->isRecording(); }, 20000));
    settle();
    EXPECT_EQ(stored(), controlT);
    EXPECT_EQ(changed, QList<std::optional<Shortcut>>{controlT});
    EXPECT_EQ(recorder->text(), QStringLiteral("⌃T"));
}

TEST_F(X11Recorder, OurOwnHotKeyCanBeRecordedAgain)
{
    recorder->clearFocus();
    setShortcut(controlT, name);
    int downs = 0;
    onKeyDown(name, [&] { ++downs; });
    ASSERT_TRUE(isEnabled(name));
    const Name other(QStringLiteral("other"), controlY);
    onKeyDown(other, [&] { ++downs; });
    ASSERT_TRUE(isEnabled(other));

    for (const auto& [keys, expected] : {std::pair{"ctrl+y", controlY}, std::pair{"ctrl+t", controlT}}) {
        SCOPED_TRACE(keys);
        changed.clear();
        recorder->setFocus(Qt::MouseFocusReason);
        ASSERT_TRUE(recorder->isRecording());
        xdotool({"key", keys});
        EXPECT_TRUE(QTest::qWaitFor([&] { return !recorder->isRecording(); }, 20000));
        settle();
        EXPECT_EQ(stored(), expected);
        EXPECT_EQ(changed, QList<std::optional<Shortcut>>{expected});
    }
    EXPECT_EQ(beeper().beeps(), 0);
    EXPECT_TRUE(alerts().asked().isEmpty());
    EXPECT_EQ(downs, 0) << "recording pauses every shortcut";

    // The keyboard is free again: the hot key works once recording has ended.
    xdotool({"key", "ctrl+t"});
    EXPECT_TRUE(QTest::qWaitFor([&] { return downs == 1; }, 20000));
}

TEST_F(X11Recorder, AKeyAnotherClientHoldsAsksBeforeItIsUsed)
{
    X11HotKeyBackend otherClient(X11HotKeyBackend::Connection::own);
    ASSERT_EQ(otherClient.registerHotKey(1, Key::u.rawValue, kControl), platform::HotKeyBackend::statusOk);

    xdotool({"key", "ctrl+u"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return !alerts().asked().isEmpty(); }, 20000));
    EXPECT_EQ(alerts().asked().first().question.title,
              GlobalShortcuts::Texts::text(QStringLiteral("keyboard_shortcut_used_by_system")));
    // The first button leaves things as they were and records again.
    settle();
    EXPECT_FALSE(stored());
    EXPECT_TRUE(recorder->isRecording());

    alerts().answerNext(1);
    xdotool({"key", "ctrl+u"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return alerts().asked().size() == 2; }, 20000));
    (void)QTest::qWaitFor([&] { return stored() == Shortcut(Key::u, ModifierFlag::control); }, 20000);
    settle();
    EXPECT_EQ(stored(), Shortcut(Key::u, ModifierFlag::control));
    EXPECT_FALSE(recorder->isRecording());
}

TEST_F(X11Recorder, EveryWayOutOfRecordingGivesTheKeyboardBack)
{
    // A hot key fires only while no client holds the whole keyboard.
    const Name other(QStringLiteral("other"), controlY);
    int downs = 0;
    onKeyDown(other, [&] { ++downs; });
    struct Case {
        const char* name;
        std::function<void()> leave;
    };
    const Case cases[] = {
        {"Escape", [] { xdotool({"key", "Escape"}); }},
        {"Tab", [] { xdotool({"key", "Tab"}); }},
        {"a shortcut stored", [] { xdotool({"key", "ctrl+t"}); }},
        {"an alert, then Escape",
         [this] {
             xdotool({"key", "ctrl+u"});
             (void)QTest::qWaitFor([this] { return !alerts().asked().isEmpty(); }, 20000);
             xdotool({"key", "Escape"});
         }},
        {"the window hidden", [this] { window->hide(); }},
    };
    X11HotKeyBackend otherClient(X11HotKeyBackend::Connection::own);
    ASSERT_EQ(otherClient.registerHotKey(1, Key::u.rawValue, kControl), platform::HotKeyBackend::statusOk);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (!window->isVisible()) {
            window->show();
            window->activateWindow();
            ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
        }
        ASSERT_TRUE(startRecording());
        c.leave();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !recorder->isRecording(); }, 20000));
        settle();
        EXPECT_EQ(QWidget::keyboardGrabber(), nullptr);
        const int before = downs;
        xdotool({"key", "ctrl+y"});
        EXPECT_TRUE(QTest::qWaitFor([&] { return downs == before + 1; }, 20000));
    }
}
