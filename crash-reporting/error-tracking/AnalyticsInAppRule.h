#pragma once

#include "analytics/AnalyticsErrorTrackingConfig.h"

#include <QString>

#include <optional>

namespace analytics {

// The in-app verdict of exception frames on this system: the configuration's
// own rules (includes, excludes, system module prefixes, then its default),
// with the system's library folders (/lib/, /usr/lib/, their multiarch, 32-
// and 64-bit siblings) taken as system code, so libc, libstdc++ and the
// dynamic loader never count as the application's. An include still wins.
namespace inapp {

// Whether an image path lies in one of the system's library folders.
bool isSystemLibraryPath(const QString& imagePath);

// A frame of a decoded crash report: `module` is the last path component of
// the image holding it (absent when no image of the report does), `imagePath`
// that image's name as stored.
bool crashFrame(const AnalyticsErrorTrackingConfig& config, const std::optional<QString>& module,
                const QString& imagePath);

// A frame of a live stack trace, given its image's path as the loader reports
// it (empty when it reports none).
bool liveFrame(const AnalyticsErrorTrackingConfig& config, const QString& imagePath);

} // namespace inapp
} // namespace analytics
