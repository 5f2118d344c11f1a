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

// The icon theme's symbolic icon for the tray, when the theme has one.
inline constexpr const char* kThemeSymbolName = "app.vellox.desktop-symbolic";
QIcon themeSymbol();

// The tray image at `side` logical pixels and `devicePixelRatio`: the app
// symbol and the dot at its top right corner. The symbol is `themeSymbol`
// when given; otherwise it is drawn light with a dark outline, since the
// colour of the panel behind it is unknown and either may be dark or light.
QImage render(StatusDotState state, int side, qreal devicePixelRatio, const QIcon& themeSymbol = {});

// Icon with the usual tray sizes.
QIcon icon(StatusDotState state, const QIcon& themeSymbol = {});

} // namespace StatusDot
