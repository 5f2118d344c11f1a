#include "Shortcut.h"

#include "GlobalShortcuts/Name.h"
#include "GlobalShortcuts/KeyTables.h"
#include "GlobalShortcuts/Storage.h"

#include "platform/KeyboardLayout.h"
#include "platform/PhysicalKeys.h"
#include "platform/Platform.h"

#include <QAction>
#include <QKeyEvent>
#include <QMenu>
#include <QTextBoundaryFinder>
#include <QWidget>

#include <nlohmann/json.hpp>

namespace GlobalShortcuts {

namespace {

constexpr qint64 kLargestTranslatableKeyCode = 0xFFFF;
const QString kReplacementCharacter = QString(QChar(0xFFFD));

bool isOneGrapheme(const QString& text)
{
    if (text.isEmpty())
        return false;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    return finder.toNextBoundary() == text.size();
}

QAction* findMatching(const QWidget* menu, const QKeyCombination& target)
{
    for (QAction* action : menu->actions()) {
        for (const QKeySequence& sequence : action->shortcuts()) {
            if (sequence.count() == 1 && sequence[0] == target)
                return action;
        }
        if (QMenu* submenu = action->menu()) {
            if (QAction* found = findMatching(submenu, target))
                return found;
        }
    }
    return nullptr;
}

} // namespace

Shortcut::Shortcut(qint64 carbonKeyCode, qint64 carbonModifiers)
    : carbonKeyCode_(carbonKeyCode)
    , carbonModifiers_(normalizedCarbon(carbonModifiers))
{
}

Shortcut::Shortcut(Key key, ModifierFlags modifiers)
    : carbonKeyCode_(key.rawValue)
    , carbonModifiers_(carbon(modifiers))
{
}

Shortcut::Shortcut(Exact, qint64 carbonKeyCode, qint64 carbonModifiers)
    : carbonKeyCode_(carbonKeyCode)
    , carbonModifiers_(carbonModifiers)
{
}

Shortcut Shortcut::decoded(qint64 carbonKeyCode, qint64 carbonModifiers)
{
    return Shortcut(Exact{}, carbonKeyCode, carbonModifiers);
}

std::optional<Shortcut> Shortcut::fromEvent(const QEvent* event)
{
    if (!event || (event->type() != QEvent::KeyPress && event->type() != QEvent::KeyRelease))
        return std::nullopt;
    const auto* keyEvent = static_cast<const QKeyEvent*>(event);
    const auto keyCode = platform::physical_keys::virtualKeyForNativeScanCode(keyEvent->nativeScanCode());
    if (!keyCode)
        return std::nullopt;
    const ModifierFlags flags = modifierFlagsFromQt(keyEvent->modifiers()) & ~ModifierFlag::function;
    return Shortcut(*keyCode, carbon(flags));
}

std::optional<Shortcut> Shortcut::forName(const Name& name)
{
    return getShortcut(name);
}

QByteArray Shortcut::toJson() const
{
    nlohmann::ordered_json json;
    json["carbonKeyCode"] = carbonKeyCode_;
    json["carbonModifiers"] = carbonModifiers_;
    return QByteArray::fromStdString(json.dump());
}

std::optional<Shortcut> Shortcut::fromJson(const QByteArray& text)
{
    const nlohmann::json json = nlohmann::json::parse(text.constBegin(), text.constEnd(), nullptr, false);
    if (!json.is_object())
        return std::nullopt;
    const auto member = [&](const char* name) -> std::optional<qint64> {
        const auto it = json.find(name);
        if (it == json.end() || !it->is_number_integer())
            return std::nullopt;
        if (it->is_number_unsigned() && it->get<quint64>() > quint64(std::numeric_limits<qint64>::max()))
            return std::nullopt;
        return it->get<qint64>();
    };
    const auto keyCode = member("carbonKeyCode");
    const auto modifiers = member("carbonModifiers");
    if (!keyCode || !modifiers)
        return std::nullopt;
    return decoded(*keyCode, *modifiers);
}

std::optional<QString> Shortcut::keyToCharacter() const
{
    const auto& layout = platform::Platform::current().keyboardLayout;
    if (!layout || specialKeyFor(carbonKeyCode_) || carbonKeyCode_ < 0
        || carbonKeyCode_ > kLargestTranslatableKeyCode)
        return std::nullopt;
    const std::optional<QString> text = layout->textForKey(carbonKeyCode_);
    if (!text || !isOneGrapheme(*text))
        return std::nullopt;
    return text;
}

QString Shortcut::presentableDescription() const
{
    QString out = symbolicRepresentation(modifiers());
    if (const auto special = specialKeyFor(carbonKeyCode_)) {
        out += GlobalShortcuts::presentableDescription(*special);
    } else if (const auto character = keyToCharacter()) {
        out += capitalized(*character);
    } else {
        out += kReplacementCharacter;
    }
    return out;
}

std::optional<QString> Shortcut::menuItemKeyEquivalent() const
{
    if (const auto special = specialKeyFor(carbonKeyCode_))
        return GlobalShortcuts::menuItemKeyEquivalent(*special);
    return keyToCharacter();
}

std::optional<QKeySequence> Shortcut::toKeySequence() const
{
    int key = 0;
    if (const auto special = specialKeyFor(carbonKeyCode_)) {
        const auto qt = qtKey(*special);
        if (!qt)
            return std::nullopt;
        key = *qt;
    } else {
        const auto character = keyToCharacter();
        if (!character)
            return std::nullopt;
        // Qt names character keys by their upper-case form (Key_A for "a").
        key = int(QChar::toUpper(character->toUcs4().value(0)));
    }
    return QKeySequence(QKeyCombination(toQtModifiers(modifiers()), Qt::Key(key)));
}

QAction* Shortcut::menuItemWithMatchingShortcut(const QWidget* menu) const
{
    if (!menu)
        return nullptr;
    const auto sequence = toKeySequence();
    if (!sequence)
        return nullptr;
    return findMatching(menu, (*sequence)[0]);
}

size_t qHash(const Shortcut& shortcut, size_t seed)
{
    return qHashMulti(seed, shortcut.carbonKeyCode(), shortcut.carbonModifiers());
}

} // namespace GlobalShortcuts
