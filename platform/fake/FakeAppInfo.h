#pragma once

#include "platform/AppInfo.h"

#include <QVariantMap>

namespace platform::fake {

class FakeAppInfo final : public AppInfo {
public:
    QVariant value(const QString& key) const override { return values.value(key); }
    QVariantMap values;
};

} // namespace platform::fake
