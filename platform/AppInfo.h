#pragma once

#include <QString>
#include <QVariant>

namespace platform {

// The application's information file: build-time values by key, such as
// "CFBundleShortVersionString", "CFBundleVersion", "CFBundleIdentifier",
// "ANALYTICS_API_KEY" and "ANALYTICS_HOST". An absent key is an invalid QVariant.
class AppInfo {
public:
    virtual ~AppInfo() = default;
    virtual QVariant value(const QString& key) const = 0;
};

} // namespace platform
