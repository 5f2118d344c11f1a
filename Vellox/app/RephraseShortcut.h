#pragma once

#include "GlobalShortcuts/Name.h"

#include <QString>

// The application's one global shortcut, "rephraseSelection", Control-T by
// default. The first call declares the name, which stores the default when
// nothing is stored for it yet.
namespace RephraseShortcut {

const GlobalShortcuts::Name& name();

// The text the onboarding panels show for the shortcut: the stored one, else
// the default, else "⌃T".
QString displayText();

} // namespace RephraseShortcut
