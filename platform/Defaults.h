#pragma once

#include <QStringList>
#include <QVariant>

namespace platform {

// The user defaults: a persistent map from key to a value of one of the types
// string, integer, double, Boolean, data (QByteArray), array (QVariantList) and
// dictionary (QVariantMap). A value reads back with the type it was written
// with. An absent key reads as an invalid QVariant. Safe to use from any thread.
class Defaults {
public:
    virtual ~Defaults() = default;

    virtual QVariant value(const QString& key) const = 0;
    virtual void setValue(const QString& key, const QVariant& value) = 0;
    virtual void remove(const QString& key) = 0;
    virtual QStringList keys() const = 0;

    bool contains(const QString& key) const { return value(key).isValid(); }
};

} // namespace platform
