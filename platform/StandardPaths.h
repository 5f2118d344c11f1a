#pragma once

#include <QString>

namespace platform::paths {

// XDG base folders, read from the environment on every call:
// ${XDG_CONFIG_HOME:-~/.config}, ${XDG_DATA_HOME:-~/.local/share},
// ${XDG_STATE_HOME:-~/.local/state}, ${XDG_CACHE_HOME:-~/.cache}.
// A relative XDG value is ignored, as the base-directory rules require.
QString configHome();
QString dataHome();
QString stateHome();
QString cacheHome();

// The user's Logs, Application Support and Caches folders.
inline QString logsFolder() { return stateHome(); }
inline QString applicationSupportFolder() { return dataHome(); }
inline QString cachesFolder() { return cacheHome(); }

} // namespace platform::paths
