#pragma once

#include "platform/Platform.h"

#include <QProcessEnvironment>

// The desktop services for real (clipboard, XTest, focus, workspace, trust,
// selection locator) and fakes for what must not touch the user's files or
// take the user's shortcuts: app info, credentials, defaults, system log, hot
// keys and the reserved-shortcut probe. Tests that need more fakes replace
// those members afterwards.
platform::Platform desktopWithFakeStores();

// The environment of a child Qt process whose widgets must show on the
// accessibility bus.
QProcessEnvironment accessibleEnvironment();
