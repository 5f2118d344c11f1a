#include "Vellox/app/RephraseShortcut.h"

#include "GlobalShortcuts/Key.h"
#include "GlobalShortcuts/Modifiers.h"
#include "GlobalShortcuts/Shortcut.h"
#include "GlobalShortcuts/Storage.h"

namespace RephraseShortcut {

GlobalShortcuts::Name name()
{
    return GlobalShortcuts::Name(QStringLiteral("rephraseSelection"),
                                 GlobalShortcuts::Shortcut(GlobalShortcuts::Key::t, GlobalShortcuts::ModifierFlag::control));
}

QString displayText()
{
    if (const auto stored = GlobalShortcuts::getShortcut(name()))
        return stored->description();
    if (const auto fallback = name().defaultShortcut())
        return fallback->description();
    return QStringLiteral("⌃T");
}

} // namespace RephraseShortcut
