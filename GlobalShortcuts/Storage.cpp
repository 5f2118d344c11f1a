#include "Storage.h"

#include "GlobalShortcuts/HandlerRegistry.h"
#include "GlobalShortcuts/MenuTracking.h"

#include "platform/Defaults.h"
#include "platform/NotificationBus.h"
#include "platform/Platform.h"

namespace GlobalShortcuts {

namespace {

platform::Defaults* defaults()
{
    return platform::Platform::current().defaults.get();
}

void userDefaultsDidChange(const Name& name)
{
    if (const auto& bus = platform::Platform::current().notifications)
        bus->post(shortcutByNameDidChange, {{QStringLiteral("name"), QVariant::fromValue(name)}});
}

} // namespace

Name::Name(QString rawValue)
    : rawValue_(std::move(rawValue))
{
    initialize();
}

Name::Name(QString rawValue, std::optional<Shortcut> defaultShortcut)
    : rawValue_(std::move(rawValue))
    , defaultShortcut_(std::move(defaultShortcut))
{
    if (defaultShortcut_ && defaults() && !defaults()->contains(userDefaultsKey(*this)))
        detail::userDefaultsSet(*this, *defaultShortcut_);
    initialize();
}

std::optional<Shortcut> Name::shortcut() const
{
    return getShortcut(*this);
}

void Name::setShortcut(const std::optional<Shortcut>& shortcut) const
{
    GlobalShortcuts::setShortcut(shortcut, *this);
}

QString userDefaultsKey(const Name& name)
{
    return userDefaultsKeyPrefix + name.rawValue();
}

std::optional<Shortcut> getShortcut(const Name& name)
{
    if (!defaults())
        return std::nullopt;
    const QVariant value = defaults()->value(userDefaultsKey(name));
    if (value.typeId() != QMetaType::QString)
        return std::nullopt;
    return Shortcut::fromJson(value.toString().toUtf8());
}

void detail::userDefaultsSet(const Name& name, const Shortcut& shortcut)
{
    if (!defaults())
        return;
    const QString json = QString::fromUtf8(shortcut.toJson());
    if (const auto old = getShortcut(name); old && !isUsedByAnotherName(*old, name))
        releaseShortcut(*old);
    registerShortcut(shortcut);
    defaults()->setValue(userDefaultsKey(name), json);
    userDefaultsDidChange(name);
}

void setShortcut(const std::optional<Shortcut>& shortcut, const Name& name)
{
    if (shortcut) {
        detail::userDefaultsSet(name, *shortcut);
        return;
    }
    const auto old = getShortcut(name);
    if (!old)
        return;
    if (name.defaultShortcut())
        defaults()->setValue(userDefaultsKey(name), false);
    else
        defaults()->remove(userDefaultsKey(name));
    if (!detail::isUsedByAnotherName(*old, name))
        detail::releaseShortcut(*old);
    userDefaultsDidChange(name);
}

void reset(const QList<Name>& names)
{
    for (const Name& name : names)
        setShortcut(name.defaultShortcut(), name);
}

void resetAll()
{
    const QSet<Name> names = allNames();
    reset(QList<Name>(names.begin(), names.end()));
}

QSet<Name> allNames()
{
    QSet<Name> names;
    if (!defaults())
        return names;
    for (const QString& key : defaults()->keys()) {
        if (key.startsWith(userDefaultsKeyPrefix))
            names.insert(Name(key.mid(userDefaultsKeyPrefix.size())));
    }
    return names;
}

} // namespace GlobalShortcuts
