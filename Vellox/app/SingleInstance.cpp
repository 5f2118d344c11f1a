#include "Vellox/app/SingleInstance.h"

#include "Vellox/app/OpenSettingsRequest.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>

#include <cstdio>

namespace {
// The owner answers once its event loop runs, which on a loaded machine may
// be a while after it took the name.
constexpr int kForwardTimeoutMs = 25'000;
} // namespace

SingleInstance::Claim SingleInstance::claimOrForward()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface())
        return Claim::noBus;
    const QString name = QString::fromLatin1(kServiceName);
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply = bus.interface()->registerService(
        name, QDBusConnectionInterface::DontQueueService, QDBusConnectionInterface::DontAllowReplacement);
    if (!reply.isValid()) {
        // Before the platform is installed: the log is not there yet.
        std::fprintf(stderr, "Vellox: could not request the bus name %s: %s\n", qPrintable(name),
                     qPrintable(reply.error().message()));
        return Claim::noBus;
    }
    if (reply.value() == QDBusConnectionInterface::ServiceRegistered)
        return Claim::owned;

    const QDBusMessage call = QDBusMessage::createMethodCall(name, QString::fromLatin1(kObjectPath),
                                                             QString::fromLatin1(kInterface), QStringLiteral("OpenSettings"));
    const QDBusMessage answer = bus.call(call, QDBus::Block, kForwardTimeoutMs);
    // Either way the other instance is the one that runs.
    if (answer.type() != QDBusMessage::ReplyMessage)
        std::fprintf(stderr, "Vellox is already running, but did not answer: %s\n",
                     qPrintable(answer.errorMessage()));
    return Claim::forwarded;
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
