#pragma once

#include <QString>

namespace analytics {

// Posted after each set-up of an SDK object.
inline constexpr const char* kDidStartNotification = "AnalyticsDidStart";
// Posted after each outcome of a feature flags load.
inline constexpr const char* kDidReceiveFeatureFlagsNotification = "AnalyticsDidReceiveFeatureFlags";

// Posts a notification with no object on the application's notification bus;
// nothing happens when none is installed.
void postNotification(const QString& name);

} // namespace analytics
