#include "ViewShortcuts.h"

#include "GlobalShortcuts/HandlerRegistry.h"
#include "GlobalShortcuts/Storage.h"

#include "platform/NotificationBus.h"
#include "platform/Platform.h"

#include <QAbstractButton>
#include <QAction>

namespace GlobalShortcuts {

namespace {

const char* const kBindingName = "GlobalShortcuts_globalKeyboardShortcut";

EventStream* attach(QObject* view, std::unique_ptr<EventStream> stream, std::function<void(EventType)> perform)
{
    EventStream* owned = stream.release();
    owned->setParent(view);
    QObject::connect(owned, &EventStream::eventAvailable, owned, [owned, perform = std::move(perform)] {
        while (const auto type = owned->takeNext())
            perform(*type);
    });
    return owned;
}

// Lives as a child of its target, so it ends with it.
class KeyboardShortcutBinding : public QObject {
public:
    KeyboardShortcutBinding(QObject* target, Name name, std::function<void(const QKeySequence&)> apply)
        : QObject(target)
        , name_(std::move(name))
        , apply_(std::move(apply))
    {
        setObjectName(QString::fromLatin1(kBindingName));
        if (const auto& bus = platform::Platform::current().notifications) {
            bus->observe(shortcutByNameDidChange, this, [this](const QVariantMap& userInfo) {
                const QVariant value = userInfo.value(QStringLiteral("name"));
                if (value.metaType() == QMetaType::fromType<Name>() && value.value<Name>() == name_)
                    refresh();
            });
            bus->observe(recorderActiveStatusDidChange, this, [this](const QVariantMap& userInfo) {
                const QVariant value = userInfo.value(QStringLiteral("isActive"));
                isRecorderActive_ = value.metaType() == QMetaType::fromType<bool>() && value.toBool();
                refresh();
            });
        }
        refresh();
    }

private:
    void refresh()
    {
        std::optional<QKeySequence> sequence;
        if (!isRecorderActive_) {
            if (const auto shortcut = getShortcut(name_))
                sequence = shortcut->toKeySequence();
        }
        apply_(sequence.value_or(QKeySequence()));
    }

    Name name_;
    std::function<void(const QKeySequence&)> apply_;
    bool isRecorderActive_ = false;
};

void bind(QObject* target, const Name& name, std::function<void(const QKeySequence&)> apply)
{
    // Collected first: deleting a child changes the list of children.
    qDeleteAll(target->findChildren<QObject*>(QString::fromLatin1(kBindingName), Qt::FindDirectChildrenOnly));
    new KeyboardShortcutBinding(target, name, std::move(apply));
}

} // namespace

EventStream* onKeyboardShortcut(QObject* view, const Name& name, std::function<void(EventType)> perform)
{
    return attach(view, events(name), std::move(perform));
}

EventStream* onKeyboardShortcut(QObject* view, const Name& name, EventType type, std::function<void()> perform)
{
    return attach(view, events(type, name), [perform = std::move(perform)](EventType) { perform(); });
}

EventStream* onGlobalKeyboardShortcut(QObject* view, const Name& name, std::function<void(EventType)> perform)
{
    return onKeyboardShortcut(view, name, std::move(perform));
}

EventStream* onGlobalKeyboardShortcut(QObject* view, const Name& name, EventType type,
                                      std::function<void()> perform)
{
    return onKeyboardShortcut(view, name, type, std::move(perform));
}

void globalKeyboardShortcut(QAction* action, const Name& name)
{
    if (action)
        bind(action, name, [action](const QKeySequence& sequence) { action->setShortcut(sequence); });
}

void globalKeyboardShortcut(QAbstractButton* button, const Name& name)
{
    if (button)
        bind(button, name, [button](const QKeySequence& sequence) { button->setShortcut(sequence); });
}

} // namespace GlobalShortcuts
