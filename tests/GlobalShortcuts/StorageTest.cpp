#include "ShortcutsTestSupport.h"

#include "GlobalShortcuts/HandlerRegistry.h"
#include "GlobalShortcuts/Storage.h"

#include <QKeyEvent>
#include <QMouseEvent>

using namespace shortcuts_test;

namespace {

class Storage : public ShortcutsTest {};

const QString kKey = QStringLiteral("GlobalShortcuts_rephraseSelection");

} // namespace

TEST_F(Storage, DeclaringADefaultStoresItOnceAndRegistersIt)
{
    recordChanges();
    const Name name(QStringLiteral("rephraseSelection"), controlT);
    EXPECT_EQ(defaults().value(kKey), QVariant(QStringLiteral(R"({"carbonKeyCode":17,"carbonModifiers":4096})")));
    EXPECT_TRUE(hotKeys().isRegistered(17, kControl));
    EXPECT_EQ(changes(), QStringList{QStringLiteral("rephraseSelection")});

    const int writes = defaults().writeCount(kKey);
    const Name again(QStringLiteral("rephraseSelection"), controlY);
    EXPECT_EQ(defaults().writeCount(kKey), writes);
    EXPECT_EQ(getShortcut(again), controlT);
}

TEST_F(Storage, EntryMovesBetweenAbsentStoredAndRemovalMarker)
{
    const Name withDefault(QStringLiteral("rephraseSelection"), controlT);
    setShortcut(std::nullopt, withDefault);
    EXPECT_EQ(defaults().value(kKey), QVariant(false));
    EXPECT_EQ(getShortcut(withDefault), std::nullopt);
    EXPECT_FALSE(hotKeys().isRegistered(17, kControl));

    // The marker keeps the default from coming back at the next start.
    const Name nextStart(QStringLiteral("rephraseSelection"), controlT);
    EXPECT_EQ(defaults().value(kKey), QVariant(false));

    setShortcut(controlY, nextStart);
    EXPECT_EQ(getShortcut(nextStart), controlY);
    reset(nextStart);
    EXPECT_EQ(getShortcut(nextStart), controlT);

    const Name plain(QStringLiteral("other"));
    setShortcut(controlY, plain);
    setShortcut(std::nullopt, plain);
    EXPECT_FALSE(defaults().contains(QStringLiteral("GlobalShortcuts_other")));
}

TEST_F(Storage, RemovingWhatIsNotStoredWritesAndPostsNothing)
{
    recordChanges();
    const Name marked(QStringLiteral("rephraseSelection"), controlT);
    setShortcut(std::nullopt, marked);
    const int writes = defaults().writeCount();
    const int posted = int(changes().size());

    setShortcut(std::nullopt, marked);
    setShortcut(std::nullopt, Name(QStringLiteral("neverStored")));
    EXPECT_EQ(defaults().writeCount(), writes);
    EXPECT_EQ(changes().size(), posted);
}

TEST_F(Storage, UnusableStoredValuesReadAsNoShortcut)
{
    struct Case {
        const char* name;
        QVariant stored;
    };
    const Case cases[] = {
        {"number", 17},
        {"list", QVariantList{17, 4096}},
        {"invalid JSON", QStringLiteral("{carbonKeyCode: 17")},
        {"missing modifiers", QStringLiteral(R"({"carbonKeyCode":17})")},
        {"fractional member", QStringLiteral(R"({"carbonKeyCode":17.5,"carbonModifiers":4096})")},
        {"text member", QStringLiteral(R"({"carbonKeyCode":"17","carbonModifiers":4096})")},
        {"data", QByteArray(R"({"carbonKeyCode":17,"carbonModifiers":4096})")},
    };
    const Name name(QStringLiteral("odd"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        defaults().setValue(QStringLiteral("GlobalShortcuts_odd"), c.stored);
        EXPECT_EQ(getShortcut(name), std::nullopt);
        // Nothing to remove: a name without a default keeps the odd value.
        reset(name);
        EXPECT_EQ(defaults().value(QStringLiteral("GlobalShortcuts_odd")), c.stored);
    }
}

TEST_F(Storage, ReadingAcceptsAnyMemberOrderAndSpacingAndKeepsUnknownBits)
{
    const Name name(QStringLiteral("odd"));
    defaults().setValue(QStringLiteral("GlobalShortcuts_odd"),
                        QStringLiteral("{ \"carbonModifiers\" : 5120,\n \"carbonKeyCode\" : 17 }"));
    const auto read = getShortcut(name);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->carbonKeyCode(), 17);
    EXPECT_EQ(read->carbonModifiers(), 0x1400);
    EXPECT_NE(*read, controlT);
}

TEST_F(Storage, ConstructionKeepsOnlyTheFiveKnownModifierBits)
{
    struct Case {
        const char* name;
        qint64 input;
        qint64 expected;
    };
    const Case cases[] = {
        {"control with an unknown bit", 0x1400, 0x1000},
        {"caps lock and right-hand bits", 0x0400 | 0x2000 | 0x4000 | 0x8000, 0},
        {"all five", 0x100 | 0x200 | 0x800 | 0x1000 | 0x20000, 0x100 | 0x200 | 0x800 | 0x1000 | 0x20000},
        {"high bits", qint64(1) << 40 | 0x100, 0x100},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Shortcut(17, c.input).carbonModifiers(), c.expected);
    }
    EXPECT_EQ(Shortcut(Key::t, ModifierFlag::control | ModifierFlag::capsLock | 0x100).carbonModifiers(), kControl);
}

TEST_F(Storage, ShortcutFromEventTakesOnlyKeyEventsAndDropsTheFunctionFlag)
{
    const QKeyEvent press = keyEvent(QEvent::KeyPress, Key::f5, Qt::Key_F5, Qt::ControlModifier);
    EXPECT_EQ(Shortcut::fromEvent(&press), Shortcut(Key::f5, ModifierFlag::control));
    const QKeyEvent release = keyEvent(QEvent::KeyRelease, Key::t, Qt::Key_T, Qt::MetaModifier | Qt::AltModifier);
    EXPECT_EQ(Shortcut::fromEvent(&release), Shortcut(17, kCommand | kOption));

    const QMouseEvent click(QEvent::MouseButtonPress, QPointF(1, 1), QPointF(1, 1), Qt::LeftButton, Qt::LeftButton,
                            Qt::NoModifier);
    EXPECT_EQ(Shortcut::fromEvent(&click), std::nullopt);
    // A key that has no physical counterpart (offscreen key events carry none).
    const QKeyEvent synthetic(QEvent::KeyPress, Qt::Key_T, Qt::ControlModifier);
    EXPECT_EQ(Shortcut::fromEvent(&synthetic), std::nullopt);
}

TEST_F(Storage, NamesAreEqualByRawValueAlone)
{
    const Name a(QStringLiteral("same"), controlT);
    const Name b(QStringLiteral("same"), controlY);
    EXPECT_EQ(a, b);
    EXPECT_EQ(qHash(a), qHash(b));
    EXPECT_EQ(QSet<Name>({a, b}).size(), 1);
}

TEST_F(Storage, AllNamesFindsEveryStoredNameAndResetAllRemovesTheirShortcuts)
{
    recordChanges();
    const Name app(QStringLiteral("rephraseSelection"), controlT);
    const Name other(QStringLiteral("x"));
    setShortcut(controlY, other);
    const Name marked(QStringLiteral("marked"), Shortcut(Key::m, ModifierFlag::command));
    setShortcut(std::nullopt, marked);
    defaults().setValue(QStringLiteral("unrelated"), 1);

    QSet<QString> raw;
    for (const Name& name : allNames())
        raw.insert(name.rawValue());
    EXPECT_EQ(raw, (QSet<QString>{QStringLiteral("rephraseSelection"), QStringLiteral("x"), QStringLiteral("marked")}));

    resetAll();
    EXPECT_FALSE(defaults().contains(kKey));
    EXPECT_FALSE(defaults().contains(QStringLiteral("GlobalShortcuts_x")));
    EXPECT_EQ(defaults().value(QStringLiteral("GlobalShortcuts_marked")), QVariant(false));
    EXPECT_TRUE(hotKeys().live().isEmpty());
    EXPECT_TRUE(changes().contains(QStringLiteral("rephraseSelection")));
}

TEST_F(Storage, StoringTheSameShortcutAgainRegistersItUnderANewId)
{
    recordChanges();
    const Name name(QStringLiteral("rephraseSelection"), controlT);
    const quint32 firstId = hotKeys().live().value(0).id;
    setShortcut(controlT, name);
    ASSERT_EQ(hotKeys().live().size(), 1);
    EXPECT_GT(hotKeys().live().value(0).id, firstId);
    EXPECT_EQ(changes().size(), 2);
}

TEST_F(Storage, ChangingOneNameKeepsTheHotKeyAnotherNameStillUses)
{
    const Name first(QStringLiteral("first"));
    const Name second(QStringLiteral("second"));
    setShortcut(controlT, first);
    setShortcut(controlT, second);
    int secondPresses = 0;
    onKeyDown(second, [&] { ++secondPresses; });

    setShortcut(controlY, first);
    EXPECT_TRUE(isEnabled(second));
    EXPECT_TRUE(hotKeys().press(17, kControl));
    EXPECT_EQ(secondPresses, 1);

    setShortcut(controlT, first);
    setShortcut(std::nullopt, first);
    EXPECT_TRUE(isEnabled(second));
    EXPECT_TRUE(hotKeys().press(17, kControl));
    EXPECT_EQ(secondPresses, 2);

    setShortcut(std::nullopt, second);
    EXPECT_FALSE(hotKeys().isRegistered(17, kControl));
}

TEST_F(Storage, NameShortcutPropertyReadsAndWritesTheStore)
{
    const Name name(QStringLiteral("prop"));
    name.setShortcut(controlY);
    EXPECT_EQ(name.shortcut(), controlY);
    EXPECT_EQ(Shortcut::forName(name), controlY);
    name.setShortcut(std::nullopt);
    EXPECT_EQ(name.shortcut(), std::nullopt);
}
