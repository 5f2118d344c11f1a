#pragma once

#include "platform/Defaults.h"

#include <QMutex>
#include <QVariantMap>

namespace platform::fake {

// In-memory defaults that count writes, so a test can tell whether something
// was stored at all.
class FakeDefaults final : public Defaults {
public:
    QVariant value(const QString& key) const override;
    void setValue(const QString& key, const QVariant& value) override;
    void remove(const QString& key) override;
    QStringList keys() const override;

    int writeCount() const;
    int writeCount(const QString& key) const;

private:
    mutable QMutex mutex_;
    QVariantMap values_;
    QHash<QString, int> writes_;
    int totalWrites_ = 0;
};

} // namespace platform::fake
