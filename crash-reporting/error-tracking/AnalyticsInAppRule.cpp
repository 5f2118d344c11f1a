#include "AnalyticsInAppRule.h"

#include <array>

namespace analytics::inapp {

namespace {

bool includedByConfig(const AnalyticsErrorTrackingConfig& config, const QString& module)
{
    for (const QString& prefix : config.inAppIncludes())
        if (module.startsWith(prefix, Qt::CaseSensitive))
            return true;
    return false;
}

} // namespace

bool isSystemLibraryPath(const QString& imagePath)
{
    // Multiarch folders (/usr/lib/x86_64-linux-gnu/ and the like) sit inside
    // these, so the prefixes cover them.
    static constexpr std::array<const char*, 8> folders = {
        "/lib/", "/lib32/", "/lib64/", "/libx32/", "/usr/lib/", "/usr/lib32/", "/usr/lib64/", "/usr/libx32/",
    };
    for (const char* folder : folders)
        if (imagePath.startsWith(QLatin1String(folder)))
            return true;
    return false;
}

bool crashFrame(const AnalyticsErrorTrackingConfig& config, const std::optional<QString>& module,
                const QString& imagePath)
{
    if (!module)
        return false;
    // Includes come first in the configuration's own order; a library folder
    // decides before the configuration's default does.
    if (!includedByConfig(config, *module) && isSystemLibraryPath(imagePath))
        return false;
    return config.isInAppCrashFrame(module);
}

bool liveFrame(const AnalyticsErrorTrackingConfig& config, const QString& imagePath)
{
    if (imagePath.isEmpty())
        return false;
    const QString module = imagePath.section(QLatin1Char('/'), -1);
    if (!includedByConfig(config, module) && isSystemLibraryPath(imagePath))
        return false;
    return config.isInAppLiveFrame(imagePath);
}

} // namespace analytics::inapp
