#include "KeyTables.h"

#include "GlobalShortcuts/Texts.h"

#include <QHash>

#include <array>

namespace GlobalShortcuts {

namespace {

constexpr char32_t kFirstFunctionKeyCharacter = 0xF704;

struct Row {
    SpecialKey key;
    qint64 keyCode;
    // The shown text as code points; the space key's is localized instead.
    std::u32string_view text;
    // True when the menu key equivalent equals the text (all but F-keys, space
    // and the keypad).
    bool menuUsesText;
    int qtKey; // 0: none
};

using namespace std::literals;

// clang-format off
constexpr std::array<Row, 53> kRows{{
    {SpecialKey::return_, 36, U"\u21A9"sv, true, Qt::Key_Return},
    {SpecialKey::delete_, 51, U"\u232B"sv, true, Qt::Key_Backspace},
    {SpecialKey::deleteForward, 117, U"\u2326"sv, true, Qt::Key_Delete},
    {SpecialKey::end, 119, U"\u2198"sv, true, Qt::Key_End},
    {SpecialKey::escape, 53, U"\u238B"sv, true, Qt::Key_Escape},
    {SpecialKey::help, 114, U"?\u20DD"sv, true, Qt::Key_Help},
    {SpecialKey::home, 115, U"\u2196"sv, true, Qt::Key_Home},
    {SpecialKey::space, 49, U""sv, false, Qt::Key_Space},
    {SpecialKey::tab, 48, U"\u21E5"sv, true, Qt::Key_Tab},
    {SpecialKey::pageUp, 116, U"\u21DE"sv, true, Qt::Key_PageUp},
    {SpecialKey::pageDown, 121, U"\u21DF"sv, true, Qt::Key_PageDown},
    {SpecialKey::upArrow, 126, U"\u2191"sv, true, Qt::Key_Up},
    {SpecialKey::rightArrow, 124, U"\u2192"sv, true, Qt::Key_Right},
    {SpecialKey::downArrow, 125, U"\u2193"sv, true, Qt::Key_Down},
    {SpecialKey::leftArrow, 123, U"\u2190"sv, true, Qt::Key_Left},
    {SpecialKey::f1, 122, U"F1"sv, false, Qt::Key_F1},
    {SpecialKey::f2, 120, U"F2"sv, false, Qt::Key_F2},
    {SpecialKey::f3, 99, U"F3"sv, false, Qt::Key_F3},
    {SpecialKey::f4, 118, U"F4"sv, false, Qt::Key_F4},
    {SpecialKey::f5, 96, U"F5"sv, false, Qt::Key_F5},
    {SpecialKey::f6, 97, U"F6"sv, false, Qt::Key_F6},
    {SpecialKey::f7, 98, U"F7"sv, false, Qt::Key_F7},
    {SpecialKey::f8, 100, U"F8"sv, false, Qt::Key_F8},
    {SpecialKey::f9, 101, U"F9"sv, false, Qt::Key_F9},
    {SpecialKey::f10, 109, U"F10"sv, false, Qt::Key_F10},
    {SpecialKey::f11, 103, U"F11"sv, false, Qt::Key_F11},
    {SpecialKey::f12, 111, U"F12"sv, false, Qt::Key_F12},
    {SpecialKey::f13, 105, U"F13"sv, false, Qt::Key_F13},
    {SpecialKey::f14, 107, U"F14"sv, false, Qt::Key_F14},
    {SpecialKey::f15, 113, U"F15"sv, false, Qt::Key_F15},
    {SpecialKey::f16, 106, U"F16"sv, false, Qt::Key_F16},
    {SpecialKey::f17, 64, U"F17"sv, false, Qt::Key_F17},
    {SpecialKey::f18, 79, U"F18"sv, false, Qt::Key_F18},
    {SpecialKey::f19, 80, U"F19"sv, false, Qt::Key_F19},
    {SpecialKey::f20, 90, U"F20"sv, false, Qt::Key_F20},
    {SpecialKey::keypad0, 82, U"0\u20E3"sv, false, 0},
    {SpecialKey::keypad1, 83, U"1\u20E3"sv, false, 0},
    {SpecialKey::keypad2, 84, U"2\u20E3"sv, false, 0},
    {SpecialKey::keypad3, 85, U"3\u20E3"sv, false, 0},
    {SpecialKey::keypad4, 86, U"4\u20E3"sv, false, 0},
    {SpecialKey::keypad5, 87, U"5\u20E3"sv, false, 0},
    {SpecialKey::keypad6, 88, U"6\u20E3"sv, false, 0},
    {SpecialKey::keypad7, 89, U"7\u20E3"sv, false, 0},
    {SpecialKey::keypad8, 91, U"8\u20E3"sv, false, 0},
    {SpecialKey::keypad9, 92, U"9\u20E3"sv, false, 0},
    {SpecialKey::keypadClear, 71, U"\u2612\u20E3"sv, false, 0},
    {SpecialKey::keypadDecimal, 65, U".\u20E3"sv, false, 0},
    {SpecialKey::keypadDivide, 75, U"/\u20E3"sv, false, 0},
    {SpecialKey::keypadEnter, 76, U"\u21A9\u20E3"sv, false, 0},
    {SpecialKey::keypadEquals, 81, U"=\u20E3"sv, false, 0},
    {SpecialKey::keypadMinus, 78, U"-\u20E3"sv, false, 0},
    {SpecialKey::keypadMultiply, 67, U"*\u20E3"sv, false, 0},
    {SpecialKey::keypadPlus, 69, U"+\u20E3"sv, false, 0},
}};
// clang-format on

const Row& rowOf(SpecialKey key)
{
    return kRows[size_t(key)];
}

QString fromScalars(std::u32string_view scalars)
{
    return QString::fromUcs4(scalars.data(), qsizetype(scalars.size()));
}

bool isKeypad(SpecialKey key)
{
    return key >= SpecialKey::keypad0;
}

} // namespace

std::optional<SpecialKey> specialKeyFor(qint64 keyCode)
{
    static const QHash<qint64, SpecialKey> mapping = [] {
        QHash<qint64, SpecialKey> out;
        for (const Row& row : kRows)
            out.insert(row.keyCode, row.key);
        return out;
    }();
    if (auto it = mapping.constFind(keyCode); it != mapping.constEnd())
        return *it;
    return std::nullopt;
}

QString presentableDescription(SpecialKey key)
{
    if (key == SpecialKey::space)
        return capitalized(Texts::text(QStringLiteral("space_key")));
    return fromScalars(rowOf(key).text);
}

std::optional<QString> menuItemKeyEquivalent(SpecialKey key)
{
    const Row& row = rowOf(key);
    if (row.menuUsesText)
        return fromScalars(row.text);
    if (key == SpecialKey::space)
        return QStringLiteral(" ");
    if (isKeypad(key))
        return std::nullopt;
    const char32_t character = kFirstFunctionKeyCharacter + char32_t(int(key) - int(SpecialKey::f1));
    return QString::fromUcs4(&character, 1);
}

std::optional<Qt::Key> qtKey(SpecialKey key)
{
    const int value = rowOf(key).qtKey;
    if (value == 0)
        return std::nullopt;
    return Qt::Key(value);
}

const QSet<int>& functionKeys()
{
    static const QSet<int> keys = [] {
        QSet<int> out;
        for (int key = Qt::Key_F1; key <= Qt::Key_F35; ++key)
            out.insert(key);
        return out;
    }();
    return keys;
}

std::optional<QString> characterFromScalar(quint64 value)
{
    if (value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return std::nullopt;
    const char32_t scalar = char32_t(value);
    return QString::fromUcs4(&scalar, 1);
}

QString capitalized(const QString& text)
{
    QString out;
    bool wordStart = true;
    const QList<uint> scalars = text.toUcs4();
    for (uint scalar : scalars) {
        const char32_t changed = wordStart ? QChar::toTitleCase(char32_t(scalar)) : QChar::toLower(char32_t(scalar));
        out += QString::fromUcs4(&changed, 1);
        wordStart = QChar::isSpace(char32_t(scalar));
    }
    return out;
}

} // namespace GlobalShortcuts
