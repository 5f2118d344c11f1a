#include "ShortcutsTestSupport.h"

#include "GlobalShortcuts/Constants.h"
#include "GlobalShortcuts/KeyTables.h"
#include "GlobalShortcuts/Texts.h"

#include <QAction>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>

#include <atomic>
#include <thread>

using namespace shortcuts_test;

namespace {

class KeyText : public ShortcutsTest {
protected:
    KeyText() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }
    ~KeyText() override { QLocale::setDefault(QLocale::system()); }
};

QString scalars(std::initializer_list<char32_t> values)
{
    QString out;
    for (char32_t value : values)
        out += QString::fromUcs4(&value, 1);
    return out;
}

} // namespace

TEST_F(KeyText, SpecialKeysShowTheirGlyphsAndMenuEquivalents)
{
    struct Case {
        const char* name;
        Key key;
        QString text;
        std::optional<QString> menu;
    };
    const Case cases[] = {
        {"return", Key::return_, scalars({0x21A9}), scalars({0x21A9})},
        {"delete", Key::delete_, scalars({0x232B}), scalars({0x232B})},
        {"forward delete", Key::deleteForward, scalars({0x2326}), scalars({0x2326})},
        {"end", Key::end, scalars({0x2198}), scalars({0x2198})},
        {"escape", Key::escape, scalars({0x238B}), scalars({0x238B})},
        {"help", Key::help, scalars({'?', 0x20DD}), scalars({'?', 0x20DD})},
        {"home", Key::home, scalars({0x2196}), scalars({0x2196})},
        {"space", Key::space, QStringLiteral("Space"), QStringLiteral(" ")},
        {"tab", Key::tab, scalars({0x21E5}), scalars({0x21E5})},
        {"page up", Key::pageUp, scalars({0x21DE}), scalars({0x21DE})},
        {"page down", Key::pageDown, scalars({0x21DF}), scalars({0x21DF})},
        {"up", Key::upArrow, scalars({0x2191}), scalars({0x2191})},
        {"right", Key::rightArrow, scalars({0x2192}), scalars({0x2192})},
        {"down", Key::downArrow, scalars({0x2193}), scalars({0x2193})},
        {"left", Key::leftArrow, scalars({0x2190}), scalars({0x2190})},
        {"F1", Key::f1, QStringLiteral("F1"), scalars({0xF704})},
        {"F12", Key::f12, QStringLiteral("F12"), scalars({0xF70F})},
        {"F20", Key::f20, QStringLiteral("F20"), scalars({0xF717})},
        {"keypad 0", Key::keypad0, scalars({'0', 0x20E3}), std::nullopt},
        {"keypad clear", Key::keypadClear, scalars({0x2612, 0x20E3}), std::nullopt},
        {"keypad enter", Key::keypadEnter, scalars({0x21A9, 0x20E3}), std::nullopt},
        {"keypad multiply", Key::keypadMultiply, scalars({'*', 0x20E3}), std::nullopt},
        {"keypad plus", Key::keypadPlus, scalars({'+', 0x20E3}), std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Shortcut shortcut(c.key, 0);
        EXPECT_EQ(shortcut.presentableDescription(), c.text);
        EXPECT_EQ(shortcut.menuItemKeyEquivalent(), c.menu);
    }
}

TEST_F(KeyText, ModifierGlyphsAlwaysComeInTheSameOrder)
{
    struct Case {
        const char* name;
        ModifierFlags flags;
        QString expected;
    };
    const Case cases[] = {
        {"none", 0, QString()},
        {"command control", ModifierFlag::command | ModifierFlag::control, QStringLiteral("⌃⌘")},
        {"shift option", ModifierFlag::shift | ModifierFlag::option, QStringLiteral("⌥⇧")},
        {"function", ModifierFlag::function, QStringLiteral("\U0001F310\uFE0E")},
        {"caps lock, keypad and help add nothing",
         ModifierFlag::capsLock | ModifierFlag::numericPad | ModifierFlag::help, QString()},
        {"all five",
         ModifierFlag::function | ModifierFlag::command | ModifierFlag::shift | ModifierFlag::option
             | ModifierFlag::control,
         QStringLiteral("⌃⌥⇧⌘\U0001F310\uFE0E")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(symbolicRepresentation(c.flags), c.expected);
    }
    EXPECT_EQ(symbolicRepresentation(ModifierFlag::function).toUtf8().size(), 7);
}

TEST_F(KeyText, ShortcutTextCombinesModifiersAndKey)
{
    EXPECT_EQ(controlT.presentableDescription(), QStringLiteral("⌃T"));
    EXPECT_EQ(controlT.description(), QStringLiteral("⌃T"));
    EXPECT_EQ(Shortcut(0, kControl | kOption | kShift | kCommand | CarbonModifier::function).presentableDescription(),
              QStringLiteral("⌃⌥⇧⌘\U0001F310\uFE0EA"));
    EXPECT_EQ(Shortcut(Key::space, ModifierFlag::shift | ModifierFlag::command).presentableDescription(),
              QStringLiteral("⇧⌘Space"));
    EXPECT_EQ(Shortcut(Key::f1, ModifierFlag::control | ModifierFlag::function).presentableDescription(),
              QStringLiteral("⌃\U0001F310\uFE0EF1"));
    EXPECT_EQ(Shortcut(Key::keypad5, ModifierFlag::command).presentableDescription(),
              QStringLiteral("⌘5") + QChar(0x20E3));
}

TEST_F(KeyText, OrdinaryKeysShowWhatTheLayoutTypes)
{
    struct Case {
        const char* name;
        const char* layout;
        Key key;
        QString text;
        QString menu;
    };
    const Case cases[] = {
        {"us t", "us", Key::t, QStringLiteral("T"), QStringLiteral("t")},
        {"us semicolon", "us", Key::semicolon, QStringLiteral(";"), QStringLiteral(";")},
        {"de swaps y and z", "de", Key::y, QStringLiteral("Z"), QStringLiteral("z")},
        {"de z key", "de", Key::z, QStringLiteral("Y"), QStringLiteral("y")},
        {"de minus key", "de", Key::minus, QStringLiteral("ß"), QStringLiteral("ß")},
        {"fr a key", "fr", Key::a, QStringLiteral("Q"), QStringLiteral("q")},
        {"fr q key", "fr", Key::q, QStringLiteral("A"), QStringLiteral("a")},
        {"fr digit one", "fr", Key::one, QStringLiteral("&"), QStringLiteral("&")},
        {"fr m key", "fr", Key::m, QStringLiteral(","), QStringLiteral(",")},
        {"fr dead circumflex", "fr", Key::leftBracket, QStringLiteral("^"), QStringLiteral("^")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        layout().setLayout(QString::fromLatin1(c.layout));
        const Shortcut shortcut(c.key, ModifierFlag::control);
        EXPECT_EQ(shortcut.presentableDescription(), QStringLiteral("⌃") + c.text);
        EXPECT_EQ(shortcut.menuItemKeyEquivalent(), c.menu);
    }
}

TEST_F(KeyText, TheLayoutIsReadAtEveryCall)
{
    EXPECT_EQ(controlY.presentableDescription(), QStringLiteral("⌃Y"));
    layout().setLayout(QStringLiteral("de"));
    EXPECT_EQ(controlY.presentableDescription(), QStringLiteral("⌃Z"));
}

TEST_F(KeyText, ANonLatinLayoutFallsBackToAnAsciiCapableOne)
{
    layout().setLayout(QStringLiteral("ru,de"));
    EXPECT_EQ(controlY.presentableDescription(), QStringLiteral("⌃Z"));
    layout().setLayout(QStringLiteral("ru"));
    EXPECT_EQ(controlY.presentableDescription(), QStringLiteral("⌃Y"));
}

TEST_F(KeyText, KeysWithoutACharacterShowTheReplacementCharacter)
{
    layout().setUnavailable(true);
    EXPECT_EQ(controlT.presentableDescription(), QStringLiteral("⌃") + QChar(0xFFFD));
    EXPECT_EQ(controlT.menuItemKeyEquivalent(), std::nullopt);
    EXPECT_EQ(controlT.toKeySequence(), std::nullopt);
    layout().setUnavailable(false);
    EXPECT_EQ(Shortcut(70000, kControl).presentableDescription(), QStringLiteral("⌃") + QChar(0xFFFD));
    EXPECT_EQ(Shortcut(-5, 0).presentableDescription(), QString(QChar(0xFFFD)));
}

TEST_F(KeyText, KeySequencesUseQtsModifierNames)
{
    struct Case {
        const char* name;
        Shortcut shortcut;
        std::optional<QKeySequence> expected;
    };
    const Case cases[] = {
        {"control t", controlT, QKeySequence(QStringLiteral("Ctrl+T"))},
        {"command shift a", Shortcut(Key::a, ModifierFlag::command | ModifierFlag::shift),
         QKeySequence(QStringLiteral("Meta+Shift+A"))},
        {"option F5", Shortcut(Key::f5, ModifierFlag::option), QKeySequence(QStringLiteral("Alt+F5"))},
        {"return", Shortcut(Key::return_, ModifierFlag::control), QKeySequence(QStringLiteral("Ctrl+Return"))},
        {"keypad key", Shortcut(Key::keypad5, ModifierFlag::command), std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.shortcut.toKeySequence(), c.expected);
    }
    layout().setLayout(QStringLiteral("de"));
    EXPECT_EQ(controlY.toKeySequence(), QKeySequence(QStringLiteral("Ctrl+Z")));
}

TEST_F(KeyText, MenuSearchIsDepthFirstAndTheFirstMatchWins)
{
    QMenuBar bar;
    QMenu* file = bar.addMenu(QStringLiteral("File"));
    QMenu* recent = file->addMenu(QStringLiteral("Recent"));
    QAction* deep = recent->addAction(QStringLiteral("Deep"));
    deep->setShortcut(QKeySequence(QStringLiteral("Ctrl+T")));
    QAction* later = file->addAction(QStringLiteral("Later"));
    later->setShortcut(QKeySequence(QStringLiteral("Ctrl+T")));
    QAction* quit = file->addAction(QStringLiteral("Quit"));
    quit->setShortcuts({QKeySequence(QStringLiteral("Ctrl+W")), QKeySequence(QStringLiteral("Meta+Q"))});
    QAction* shifted = file->addAction(QStringLiteral("Shifted"));
    shifted->setShortcut(QKeySequence(QStringLiteral("Ctrl+Shift+Y")));

    EXPECT_EQ(controlT.menuItemWithMatchingShortcut(&bar), deep);
    EXPECT_EQ(Shortcut(Key::q, ModifierFlag::command).menuItemWithMatchingShortcut(&bar), quit);
    EXPECT_EQ(Shortcut(Key::y, ModifierFlag::control | ModifierFlag::shift).menuItemWithMatchingShortcut(&bar),
              shifted);
    EXPECT_EQ(controlY.menuItemWithMatchingShortcut(&bar), nullptr);
    EXPECT_EQ(Shortcut(Key::keypad5, ModifierFlag::control).menuItemWithMatchingShortcut(&bar), nullptr);

    // An item is tried before its own submenu.
    recent->menuAction()->setShortcut(QKeySequence(QStringLiteral("Ctrl+T")));
    EXPECT_EQ(controlT.menuItemWithMatchingShortcut(&bar), recent->menuAction());
}

TEST_F(KeyText, TextsAreLookedUpByKeyAndAMissingKeyYieldsTheKey)
{
    EXPECT_EQ(Texts::text(QStringLiteral("ok")), QStringLiteral("OK"));
    EXPECT_EQ(Texts::text(QStringLiteral("record_shortcut"), QStringLiteral("en")), QStringLiteral("Record Shortcut"));
    EXPECT_EQ(Texts::text(QStringLiteral("record_shortcut"), QStringLiteral("de")),
              QStringLiteral("Kurzbefehl aufnehmen"));
    EXPECT_EQ(Texts::text(QStringLiteral("record_shortcut"), QStringLiteral("xx")), QStringLiteral("Record Shortcut"));
    EXPECT_EQ(Texts::text(QStringLiteral("no_such_text")), QStringLiteral("no_such_text"));
    EXPECT_TRUE(Texts::text(QStringLiteral("keyboard_shortcut_used_by_menu_item")).contains(QStringLiteral("%1")));

    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(Shortcut(Key::space, 0).presentableDescription(), QStringLiteral("Leertaste"));
}

TEST(Texts, LookUpsFromManyThreadsWhileLanguagesAreStillLoading)
{
    // Each thread's first look-up of a language adds a table, which may move
    // the tables another thread is reading.
    std::vector<std::thread> threads;
    std::atomic<int> wrong{0};
    for (int t = 0; t < 6; ++t) {
        threads.emplace_back([t, &wrong] {
            for (int i = 0; i < 300; ++i) {
                const QString language = QStringLiteral("x%1-%2").arg(t).arg(i);
                if (Texts::text(QStringLiteral("ok"), language) != QStringLiteral("OK"))
                    ++wrong;
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(wrong.load(), 0);
}

TEST_F(KeyText, CharactersFromScalarsRejectSurrogatesAndValuesBeyondUnicode)
{
    struct Case {
        const char* name;
        quint64 value;
        bool valid;
    };
    const Case cases[] = {
        {"zero", 0, true},
        {"letter", 0x41, true},
        {"function key F1", 0xF704, true},
        {"first surrogate", 0xD800, false},
        {"last surrogate", 0xDFFF, false},
        {"last scalar", 0x10FFFF, true},
        {"beyond unicode", 0x110000, false},
        {"beyond 32 bits", quint64(1) << 33, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(characterFromScalar(c.value).has_value(), c.valid);
    }
    EXPECT_EQ(characterFromScalar(0x1F310), QStringLiteral("\U0001F310"));
}

TEST_F(KeyText, FunctionKeysAreF1ToF35)
{
    EXPECT_EQ(functionKeys().size(), 35);
    EXPECT_TRUE(functionKeys().contains(Qt::Key_F1));
    EXPECT_TRUE(functionKeys().contains(Qt::Key_F35));
    EXPECT_FALSE(functionKeys().contains(Qt::Key_Escape));
}

TEST(SandboxRule, DependsOnTheVariableNotItsValue)
{
    QProcessEnvironment environment;
    EXPECT_FALSE(Constants::isSandboxed(environment));
    environment.insert(QStringLiteral("APP_SANDBOX_CONTAINER_ID"), QString());
    EXPECT_TRUE(Constants::isSandboxed(environment));
}

TEST(SandboxRule, AppliesOnlyToSandboxedProcessesOnTheAffectedVersions)
{
    struct Case {
        const char* name;
        Constants::Host host;
        bool refuses;
    };
    const Case cases[] = {
        {"15.0 sandboxed", {15, 0, true}, true},
        {"15.1 sandboxed", {15, 1, true}, true},
        {"15.2 sandboxed", {15, 2, true}, false},
        {"15.1 unsandboxed", {15, 1, false}, false},
        {"not macOS", {0, 0, true}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Constants::refusesOptionOnlyShortcuts(c.host), c.refuses);
    }
}

TEST(PhysicalKeys, EveryKeyButFunctionHasOneXKeycodeOfItsOwn)
{
    namespace keys = platform::physical_keys;
    EXPECT_EQ(keys::xKeycodeForVirtualKey(Key::t.rawValue), 28);
    EXPECT_EQ(keys::xKeycodeForVirtualKey(Key::f1.rawValue), 67);
    EXPECT_EQ(keys::xKeycodeForVirtualKey(Key::function.rawValue), std::nullopt);
    EXPECT_EQ(keys::virtualKeyForNativeScanCode(0), std::nullopt);

    QSet<int> seen;
    for (qint64 code = 0; code < 128; ++code) {
        const auto evdev = keys::evdevCodeForVirtualKey(code);
        if (!evdev)
            continue;
        SCOPED_TRACE(code);
        EXPECT_FALSE(seen.contains(*evdev));
        seen.insert(*evdev);
        EXPECT_EQ(keys::virtualKeyForEvdevCode(*evdev), code);
    }
    // The 113 named keys and the extra ISO and JIS keys.
    EXPECT_EQ(seen.size(), 119);
}
