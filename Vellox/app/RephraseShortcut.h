#pragma once

#include "GlobalShortcuts/Name.h"

#include <QString>

// The application's one global shortcut, "rephraseSelection", Control-T by
// default. Each call declares the name, which stores the default when nothing
// at all is stored for it (a removed shortcut stays removed).
namespace RephraseShortcut {

GlobalShortcuts::Name name();

// The text the onboarding panels show for the shortcut: the stored one, else
// the default, else "⌃T".
QString displayText();

} // namespace RephraseShortcut
