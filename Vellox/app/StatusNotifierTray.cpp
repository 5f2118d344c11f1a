#include "Vellox/app/StatusNotifierTray.h"

#include "Vellox/settings/VelloxLog.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>

namespace {

constexpr char kWatcherService[] = "org.kde.StatusNotifierWatcher";
constexpr char kWatcherPath[] = "/StatusNotifierWatcher";
constexpr char kWatcherInterface[] = "org.kde.StatusNotifierWatcher";
// A watcher that does not answer this soon is taken for one without a host.
constexpr int kHostQueryMs = 1000;

} // namespace

bool StatusNotifierTray::hostRegistered(const QDBusConnection& bus)
{
    const QString service = QString::fromLatin1(kWatcherService);
    if (!bus.isConnected() || !bus.interface()->isServiceRegistered(service).value())
        return false;
    QDBusMessage get = QDBusMessage::createMethodCall(service, QString::fromLatin1(kWatcherPath),
                                                      QStringLiteral("org.freedesktop.DBus.Properties"),
                                                      QStringLiteral("Get"));
    get << QString::fromLatin1(kWatcherInterface) << QStringLiteral("IsStatusNotifierHostRegistered");
    const QDBusMessage reply = bus.call(get, QDBus::Block, kHostQueryMs);
    return reply.type() == QDBusMessage::ReplyMessage
           && reply.arguments().value(0).value<QDBusVariant>().variant().toBool();
}

StatusNotifierTray::StatusNotifierTray(QDBusConnection bus, std::function<bool()> xembedDocked,
                                       StatusNotifierItem::Actions actions, QObject* parent)
    : QObject(parent)
    , bus_(std::move(bus))
    , xembedDocked_(std::move(xembedDocked))
    , actions_(std::move(actions))
    // The name hosts and watchers know items by; releasing it tells them the
    // item is gone. Qt numbers its own items from 1.
    , serviceName_(QStringLiteral("org.kde.StatusNotifierItem-%1-0").arg(QCoreApplication::applicationPid()))
{
    if (!bus_.isConnected())
        return;
    StatusNotifierPixmap::registerDBusTypes();
    watcher_ = new QDBusServiceWatcher(QString::fromLatin1(kWatcherService), bus_,
                                       QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(watcher_, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString&, const QString&, const QString& newOwner) {
                // A watcher that went away forgot the item; a new one has never
                // heard of it.
                withdraw();
                refused_ = false;
                watcherPresent_ = !newOwner.isEmpty();
                reconcile();
            });
    watcherPresent_ = bus_.interface()->isServiceRegistered(QString::fromLatin1(kWatcherService)).value();
    reconcile();
}

StatusNotifierTray::~StatusNotifierTray()
{
    withdraw();
}

void StatusNotifierTray::setIcon(const QIcon& icon)
{
    icon_ = icon;
    if (item_)
        item_->setIcon(icon);
}

void StatusNotifierTray::reconcile()
{
    const bool wanted = watcherPresent_ && !refused_ && !(xembedDocked_ && xembedDocked_());
    if (wanted && !isRegistered())
        registerItem();
    else if (!wanted && isRegistered())
        withdraw();
}

void StatusNotifierTray::registerItem()
{
    auto* object = new QObject(this);
    auto* item = new StatusNotifierItem(object, actions_, icon_);
    if (!bus_.registerObject(QString::fromLatin1(kObjectPath), object, QDBusConnection::ExportAdaptors)
        || !bus_.registerService(serviceName_)) {
        VelloxLog::startup().error(QStringLiteral("The tray icon could not be offered on the session bus: %1")
                                       .arg(bus_.lastError().message()));
        bus_.unregisterObject(QString::fromLatin1(kObjectPath));
        delete object;
        return;
    }
    exported_ = object;
    item_ = item;

    QDBusMessage call = QDBusMessage::createMethodCall(QString::fromLatin1(kWatcherService),
                                                       QString::fromLatin1(kWatcherPath),
                                                       QString::fromLatin1(kWatcherInterface),
                                                       QStringLiteral("RegisterStatusNotifierItem"));
    call << serviceName_;
    auto* pending = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this, [this, pending, object] {
        pending->deleteLater();
        const QDBusPendingReply<> reply = *pending;
        // A reply for an item withdrawn meanwhile concerns nobody.
        if (exported_ != object)
            return;
        if (reply.isError()) {
            VelloxLog::startup().error(
                QStringLiteral("The tray host refused the tray icon: %1").arg(reply.error().message()));
            // Asked again only by the next watcher.
            refused_ = true;
            withdraw();
            return;
        }
        VelloxLog::startup().notice(QStringLiteral("The tray icon is shown by a StatusNotifierItem host."));
    });
}

void StatusNotifierTray::withdraw()
{
    if (!exported_)
        return;
    bus_.unregisterObject(QString::fromLatin1(kObjectPath));
    bus_.unregisterService(serviceName_);
    delete exported_;
}
