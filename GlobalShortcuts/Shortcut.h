#pragma once

#include "GlobalShortcuts/Key.h"
#include "GlobalShortcuts/Modifiers.h"

#include <QByteArray>
#include <QKeySequence>
#include <QString>

#include <optional>

class QAction;
class QEvent;
class QWidget;

namespace GlobalShortcuts {

class Name;

// A key with modifiers, as stored: a virtual key code and Carbon modifier bits.
class Shortcut {
public:
    // Both constructors keep only the five known modifier bits.
    Shortcut(qint64 carbonKeyCode, qint64 carbonModifiers);
    Shortcut(Key key, ModifierFlags modifiers);

    // Exactly as read from storage, unknown modifier bits included.
    static Shortcut decoded(qint64 carbonKeyCode, qint64 carbonModifiers);

    // From a key press or release; none for any other event or a key with no
    // virtual key code. Never carries the function bit.
    static std::optional<Shortcut> fromEvent(const QEvent* event);
    // The stored shortcut of the name (getShortcut).
    static std::optional<Shortcut> forName(const Name& name);

    // The stored form: {"carbonKeyCode":17,"carbonModifiers":4096}.
    QByteArray toJson() const;
    // Both members must be present and integers; anything else is none.
    static std::optional<Shortcut> fromJson(const QByteArray& json);

    qint64 carbonKeyCode() const { return carbonKeyCode_; }
    qint64 carbonModifiers() const { return carbonModifiers_; }
    Key key() const { return Key(carbonKeyCode_); }
    ModifierFlags modifiers() const { return modifierFlagsFromCarbon(carbonModifiers_); }

    // Modifier glyphs, then the key's glyph or the character the current
    // keyboard layout gives it, such as "⌃T". The layout is read at every call.
    QString presentableDescription() const;
    QString description() const { return presentableDescription(); }

    // The key equivalent a menu item shows for this shortcut, uncapitalised;
    // none for the keypad keys and keys the layout gives no character.
    std::optional<QString> menuItemKeyEquivalent() const;
    // The shortcut as a Qt key sequence, for actions and buttons; none when
    // menuItemKeyEquivalent() is none.
    std::optional<QKeySequence> toKeySequence() const;
    // The first action, depth first, of a menu or menu bar (or any widget's
    // actions) that has this shortcut; an action is tried before its submenu.
    QAction* menuItemWithMatchingShortcut(const QWidget* menu) const;

    friend bool operator==(const Shortcut&, const Shortcut&) = default;

private:
    struct Exact {};
    Shortcut(Exact, qint64 carbonKeyCode, qint64 carbonModifiers);

    // The character the ASCII-capable layout types for the key, alone.
    std::optional<QString> keyToCharacter() const;

    qint64 carbonKeyCode_ = 0;
    qint64 carbonModifiers_ = 0;
};

size_t qHash(const Shortcut& shortcut, size_t seed = 0);

} // namespace GlobalShortcuts
