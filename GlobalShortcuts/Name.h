#pragma once

#include "GlobalShortcuts/Shortcut.h"

#include <QMetaType>
#include <QString>

#include <optional>

namespace GlobalShortcuts {

// A named global shortcut with an optional default. Names compare and hash by
// their raw value alone, so two declarations of one name are the same name.
class Name {
public:
    // An empty name, for containers and QVariant.
    Name() = default;
    // A name without a default.
    explicit Name(QString rawValue);
    // Declares the name: on a store that holds nothing at all for it, the
    // default is stored (and registered). An existing entry, even the removal
    // marker, is left alone.
    Name(QString rawValue, std::optional<Shortcut> defaultShortcut);

    const QString& rawValue() const { return rawValue_; }
    const std::optional<Shortcut>& defaultShortcut() const { return defaultShortcut_; }

    // getShortcut / setShortcut for this name.
    std::optional<Shortcut> shortcut() const;
    void setShortcut(const std::optional<Shortcut>& shortcut) const;

    friend bool operator==(const Name& a, const Name& b) { return a.rawValue_ == b.rawValue_; }

private:
    QString rawValue_;
    std::optional<Shortcut> defaultShortcut_;
};

inline size_t qHash(const Name& name, size_t seed = 0)
{
    return ::qHash(name.rawValue(), seed);
}

} // namespace GlobalShortcuts

Q_DECLARE_METATYPE(GlobalShortcuts::Name)
