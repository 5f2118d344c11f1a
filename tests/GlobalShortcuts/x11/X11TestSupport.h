#pragma once

#include "GlobalShortcuts/ShortcutsTestSupport.h"

#include "platform/linux/X11HotKeyBackend.h"
#include "platform/linux/X11KeyboardLayout.h"
#include "platform/linux/X11SystemShortcuts.h"

#include <QGuiApplication>
#include <QProcess>
#include <QTest>

namespace shortcuts_test {

// The fakes, except for the X11 hot keys, reserved shortcuts and layout.
inline platform::Platform x11Platform()
{
    platform::Platform services = platform::fake::makeFakePlatform();
    auto hotKeys = std::make_shared<platform::linuxbackend::X11HotKeyBackend>();
    services.hotKeys = hotKeys;
    services.systemShortcuts = std::make_shared<platform::linuxbackend::X11SystemShortcuts>(hotKeys);
    services.keyboardLayout = std::make_shared<platform::linuxbackend::X11KeyboardLayout>();
    return services;
}

// Real key presses through the X server (XTest), as a user would make them.
inline void xdotool(const QStringList& arguments)
{
    ASSERT_EQ(QProcess::execute(QStringLiteral("xdotool"), arguments), 0) << arguments.join(' ').toStdString();
}

// Server-side auto-repeat, fast, for the lifetime of the object.
class AutoRepeat {
public:
    AutoRepeat() { EXPECT_EQ(QProcess::execute(QStringLiteral("xset"), {"r", "rate", "150", "40"}), 0); }
    ~AutoRepeat() { QProcess::execute(QStringLiteral("xset"), {"r", "off"}); }
};

// The X11 services installed and a clean component for every test.
class X11ShortcutsTest : public ::testing::Test {
protected:
    X11ShortcutsTest()
        : guard_(x11Platform())
    {
        GlobalShortcuts::testing::resetState();
    }
    ~X11ShortcutsTest() override
    {
        QCoreApplication::processEvents();
        GlobalShortcuts::testing::resetState();
    }

    void SetUp() override { ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb")); }

    platform::Platform& services() { return guard_.platform(); }
    QStringList logLines() { return fake::as<fake::FakeSystemLog>(services().systemLog).messages(); }
    fake::FakeAlerts& alerts() { return fake::as<fake::FakeAlerts>(services().alerts); }
    fake::FakeBeeper& beeper() { return fake::as<fake::FakeBeeper>(services().beeper); }

private:
    platform::PlatformGuard guard_;
};

} // namespace shortcuts_test
