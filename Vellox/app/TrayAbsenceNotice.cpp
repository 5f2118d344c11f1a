#include "Vellox/app/TrayAbsenceNotice.h"

#include "Vellox/app/TrayNoticeWindow.h"
#include "Vellox/settings/VelloxLog.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QApplication>

namespace TrayAbsenceNotice {

namespace {

constexpr int kTrayNoticeTimeoutMs = 15'000;

void showWindow()
{
    (new TrayNoticeWindow(title(), text()))->show();
}

} // namespace

QString title()
{
    return QStringLiteral("Vellox has no tray icon");
}

QString text()
{
    return QStringLiteral("No system tray was found, so Vellox runs without its icon. Select text and press the "
                          "shortcut to rewrite it; start Vellox again to open its settings.");
}

void show()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        showWindow();
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    call << QStringLiteral("Vellox") << 0u << QStringLiteral("app.vellox.desktop") << title() << text()
         << QStringList() << QVariantMap() << kTrayNoticeTimeoutMs;
    // A bus without a notification server answers with an error rather than
    // activating one, and the window takes over.
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), qApp);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, qApp, [](QDBusPendingCallWatcher* finished) {
        finished->deleteLater();
        if (finished->isError()) {
            VelloxLog::startup().notice(QStringLiteral("No desktop notification server; the tray notice is a window"));
            showWindow();
        }
    });
}

} // namespace TrayAbsenceNotice
