#pragma once

#include "platform/AppInfo.h"

#include <QVariantMap>

namespace platform::linuxbackend {

// Info.json, found at $VELLOX_INFO_FILE, else beside the executable, else at
// <prefix>/share/vellox/Info.json. A missing or unreadable file has no keys.
class JsonAppInfo final : public AppInfo {
public:
    explicit JsonAppInfo(const QString& filePath);
    static QString locate();

    QVariant value(const QString& key) const override { return values_.value(key); }

private:
    QVariantMap values_;
};

} // namespace platform::linuxbackend
