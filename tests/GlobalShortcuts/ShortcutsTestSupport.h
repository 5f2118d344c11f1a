#pragma once

#include "GlobalShortcuts/Key.h"
#include "GlobalShortcuts/Modifiers.h"
#include "GlobalShortcuts/Name.h"
#include "GlobalShortcuts/Shortcut.h"
#include "GlobalShortcuts/Storage.h"
#include "GlobalShortcuts/Testing.h"

#include "platform/NotificationBus.h"
#include "platform/PhysicalKeys.h"
#include "platform/Platform.h"
#include "platform/fake/FakeAlerts.h"
#include "platform/fake/FakeBeeper.h"
#include "platform/fake/FakeDefaults.h"
#include "platform/fake/FakeHotKeyBackend.h"
#include "platform/fake/FakeKeyboardLayout.h"
#include "platform/fake/FakePlatform.h"
#include "platform/fake/FakeSystemLog.h"
#include "platform/fake/FakeSystemShortcuts.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QVariantMap>

#include <gtest/gtest.h>

namespace shortcuts_test {

using namespace GlobalShortcuts;
namespace fake = platform::fake;

constexpr qint64 kControl = CarbonModifier::control;
constexpr qint64 kOption = CarbonModifier::option;
constexpr qint64 kShift = CarbonModifier::shift;
constexpr qint64 kCommand = CarbonModifier::command;

inline const Shortcut controlT{Key::t, ModifierFlag::control};
inline const Shortcut controlY{Key::y, ModifierFlag::control};

// A key event as Qt's xcb plugin delivers it: the native scan code is the
// XKB key code of the physical key.
inline QKeyEvent keyEvent(QEvent::Type type, Key key, int qtKey, Qt::KeyboardModifiers modifiers = {},
                          bool autoRepeat = false)
{
    const auto evdev = platform::physical_keys::evdevCodeForVirtualKey(key.rawValue);
    const quint32 scanCode = evdev ? quint32(*evdev + platform::physical_keys::xkbKeycodeOffset) : 0;
    return QKeyEvent(type, qtKey, modifiers, scanCode, 0, 0, QString(), autoRepeat);
}

// Fresh fakes and a clean component for every test.
class ShortcutsTest : public ::testing::Test {
protected:
    ShortcutsTest() { GlobalShortcuts::testing::resetState(); }
    ~ShortcutsTest() override
    {
        // Queued stream bookkeeping of this test must not leak into the next.
        QCoreApplication::processEvents();
        GlobalShortcuts::testing::resetState();
    }

    platform::Platform& services() { return guard_.platform(); }
    fake::FakeHotKeyBackend& hotKeys() { return fake::as<fake::FakeHotKeyBackend>(services().hotKeys); }
    fake::FakeDefaults& defaults() { return fake::as<fake::FakeDefaults>(services().defaults); }
    fake::FakeSystemLog& systemLog() { return fake::as<fake::FakeSystemLog>(services().systemLog); }
    fake::FakeAlerts& alerts() { return fake::as<fake::FakeAlerts>(services().alerts); }
    fake::FakeBeeper& beeper() { return fake::as<fake::FakeBeeper>(services().beeper); }
    fake::FakeSystemShortcuts& reserved() { return fake::as<fake::FakeSystemShortcuts>(services().systemShortcuts); }
    fake::FakeKeyboardLayout& layout() { return fake::as<fake::FakeKeyboardLayout>(services().keyboardLayout); }

    // The names of every "did change" notification, in order.
    void recordChanges()
    {
        auto changes = std::make_shared<QStringList>();
        changes_ = changes;
        services().notifications->observe(shortcutByNameDidChange, &context_, [changes](const QVariantMap& info) {
            changes->append(info.value(QStringLiteral("name")).value<Name>().rawValue());
        });
    }
    QStringList changes() const { return changes_ ? *changes_ : QStringList(); }

    // Lets the queued set-up and tear-down of event streams run.
    static void settle() { QCoreApplication::processEvents(); }

private:
    platform::PlatformGuard guard_;
    QObject context_;
    std::shared_ptr<QStringList> changes_;
};

} // namespace shortcuts_test
