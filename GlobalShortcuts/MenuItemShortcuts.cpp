#include "MenuItemShortcuts.h"

#include "GlobalShortcuts/Storage.h"

#include "platform/NotificationBus.h"
#include "platform/Platform.h"

#include <QAction>
#include <QPointer>

namespace GlobalShortcuts {

namespace {

const char* const kBindingName = "GlobalShortcuts_menuItemBinding";

// Lives as a child of the bound item, so the binding ends with the item.
class MenuItemBinding : public QObject {
public:
    MenuItemBinding(QAction* item, Name name)
        : QObject(item)
        , item_(item)
        , name_(std::move(name))
    {
        setObjectName(QString::fromLatin1(kBindingName));
        if (const auto& bus = platform::Platform::current().notifications) {
            bus->observe(shortcutByNameDidChange, this, [this](const QVariantMap& userInfo) {
                const QVariant value = userInfo.value(QStringLiteral("name"));
                if (value.metaType() != QMetaType::fromType<Name>() || !(value.value<Name>() == name_))
                    return;
                QMetaObject::invokeMethod(
                    this, [this] { setShortcut(item_, getShortcut(name_)); }, Qt::QueuedConnection);
            });
        }
    }

private:
    QAction* item_;
    Name name_;
};

void removeBinding(QAction* item)
{
    // Collected first: deleting a child changes the list of children.
    qDeleteAll(item->findChildren<QObject*>(QString::fromLatin1(kBindingName), Qt::FindDirectChildrenOnly));
}

} // namespace

void setShortcut(QAction* item, const std::optional<Shortcut>& shortcut)
{
    if (!item)
        return;
    const auto sequence = shortcut ? shortcut->toKeySequence() : std::nullopt;
    item->setShortcut(sequence.value_or(QKeySequence()));
}

void setShortcutFor(QAction* item, const std::optional<Name>& name)
{
    if (!item)
        return;
    removeBinding(item);
    if (!name) {
        setShortcut(item, std::nullopt);
        return;
    }
    setShortcut(item, getShortcut(*name));
    new MenuItemBinding(item, *name);
}

} // namespace GlobalShortcuts
