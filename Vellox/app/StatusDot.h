#pragma once

#include "Vellox/rewrite/AppReadinessState.h"
#include "Vellox/rewrite/RewriteChromeState.h"

#include <QColor>
#include <QIcon>
#include <QImage>

// The small dot on the tray icon: missing permission (orange), a rewrite
// under way (green), or a failure waiting to be read (red).
enum class StatusDotState { none, permission, working, error };

namespace StatusDot {

// The first match wins: a denied permission hides a running rewrite and an
// error; a running rewrite hides an error.
StatusDotState stateFor(AccessibilityPermissionStatus permission, RewriteChromeState::Phase phase, bool hasLastError);

// The tray image at `side` logical pixels and `devicePixelRatio`: the app
// symbol in `symbolColor` and the dot at its top right corner.
QImage render(StatusDotState state, int side, qreal devicePixelRatio, const QColor& symbolColor);

// Icon with the usual tray sizes.
QIcon icon(StatusDotState state, const QColor& symbolColor);

} // namespace StatusDot
