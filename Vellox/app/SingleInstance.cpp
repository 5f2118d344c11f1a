#include "Vellox/app/SingleInstance.h"

#include "Vellox/app/OpenSettingsRequest.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>

bool SingleInstance::forwardToRunningInstance()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface())
        return false;
    if (!bus.interface()->isServiceRegistered(QString::fromLatin1(kServiceName)).value())
        return false;
    const QDBusMessage call = QDBusMessage::createMethodCall(
        QString::fromLatin1(kServiceName), QString::fromLatin1(kObjectPath), QString::fromLatin1(kInterface),
        QStringLiteral("OpenSettings"));
    const QDBusMessage reply = bus.call(call, QDBus::Block, 5000);
    return reply.type() == QDBusMessage::ReplyMessage;
}

SingleInstance::SingleInstance(std::function<void()> showPopover, QObject* parent)
    : QObject(parent)
    , showPopover_(std::move(showPopover))
{
}

void SingleInstance::ShowPopover()
{
    if (showPopover_)
        showPopover_();
}

bool SingleInstance::exportOnSessionBus()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    return bus.isConnected()
        && bus.registerObject(QString::fromLatin1(kObjectPath), this, QDBusConnection::ExportAllSlots);
}

void SingleInstance::OpenSettings()
{
    OpenSettingsRequest::post();
}
