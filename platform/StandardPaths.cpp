#include "StandardPaths.h"

#include <QDir>

namespace platform::paths {

namespace {

QString xdgFolder(const char* variable, const char* fallbackUnderHome)
{
    const QString value = qEnvironmentVariable(variable);
    if (!value.isEmpty() && QDir::isAbsolutePath(value))
        return QDir::cleanPath(value);
    return QDir::cleanPath(QDir::homePath() + QLatin1Char('/') + QLatin1String(fallbackUnderHome));
}

} // namespace

QString configHome() { return xdgFolder("XDG_CONFIG_HOME", ".config"); }
QString dataHome() { return xdgFolder("XDG_DATA_HOME", ".local/share"); }
QString stateHome() { return xdgFolder("XDG_STATE_HOME", ".local/state"); }
QString cacheHome() { return xdgFolder("XDG_CACHE_HOME", ".cache"); }

} // namespace platform::paths
