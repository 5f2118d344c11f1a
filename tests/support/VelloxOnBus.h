#pragma once

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>

namespace test_support {

// Whether the program with `pid` holds its bus name and has finished
// launching: it exports its Services entry only then, after its tray is set up.
inline bool velloxLaunchedOnBus(const QDBusConnection& bus, qint64 pid)
{
    const QString name = QStringLiteral("app.vellox.desktop");
    if (!bus.interface()->isServiceRegistered(name).value() || qint64(bus.interface()->servicePid(name).value()) != pid)
        return false;
    const QDBusMessage reply = bus.call(QDBusMessage::createMethodCall(name, QStringLiteral("/app/vellox/desktop"),
                                                                       QStringLiteral("org.freedesktop.DBus.Introspectable"),
                                                                       QStringLiteral("Introspect")),
                                        QDBus::Block, 5000);
    return reply.type() == QDBusMessage::ReplyMessage
           && reply.arguments().value(0).toString().contains(QStringLiteral("app.vellox.desktop.Services"));
}

} // namespace test_support
