#include "VelloxServiceProvider.h"

#include "Vellox/rewrite/RewriteCoordinator.h"
#include "Vellox/settings/VelloxLog.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>

#include <memory>

namespace {

QCoro::Task<void> answer(QDBusConnection connection, QDBusMessage request, QString text)
{
    auto pasteboard = std::make_shared<RewriteCoordinator::ServicesPasteboard>();
    pasteboard->text = text;
    const RewriteCoordinator::ServicesOutcome outcome =
        co_await RewriteCoordinator::shared().rephrasePasteboard(pasteboard);
    if (outcome.failure) {
        connection.send(request.createErrorReply(QString::fromLatin1(VelloxServiceProvider::kRewriteFailedError),
                                                 outcome.failure->text));
    } else {
        connection.send(request.createReply(pasteboard->text.value_or(QString())));
    }
}

} // namespace

VelloxServiceProvider& VelloxServiceProvider::shared()
{
    static auto* instance = new VelloxServiceProvider; // lives until exit
    return *instance;
}

bool VelloxServiceProvider::registerOn(QDBusConnection connection)
{
    if (!connection.isConnected())
        return false;
    if (!connection.registerObject(QString::fromLatin1(kObjectPath), this, QDBusConnection::ExportAllSlots)) {
        VelloxLog::startup().error(QStringLiteral("Services: could not export %1").arg(QString::fromLatin1(kObjectPath)));
        return false;
    }
    if (!connection.registerService(QString::fromLatin1(kServiceName))) {
        VelloxLog::startup().error(QStringLiteral("Services: the bus name %1 is taken: %2")
                                       .arg(QString::fromLatin1(kServiceName), connection.lastError().message()));
        connection.unregisterObject(QString::fromLatin1(kObjectPath));
        return false;
    }
    return true;
}

void VelloxServiceProvider::unregisterFrom(QDBusConnection connection)
{
    connection.unregisterService(QString::fromLatin1(kServiceName));
    connection.unregisterObject(QString::fromLatin1(kObjectPath));
}

QString VelloxServiceProvider::velloxSelection(const QString& text)
{
    if (!calledFromDBus())
        return text;
    setDelayedReply(true);
    answer(connection(), message(), text);
    return {};
}
