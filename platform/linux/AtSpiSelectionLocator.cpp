#include "AtSpiSelectionLocator.h"

#include "platform/Workspace.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QDBusVariant>
#include <QDeadlineTimer>
#include <QGuiApplication>
#include <QScreen>

#include <atomic>

namespace platform::linuxbackend {

namespace {

struct AccessibleRef {
    QString service;
    QDBusObjectPath path;
};

} // namespace
} // namespace platform::linuxbackend

Q_DECLARE_METATYPE(platform::linuxbackend::AccessibleRef)

namespace platform::linuxbackend {

namespace {

QDBusArgument& operator<<(QDBusArgument& argument, const AccessibleRef& ref)
{
    argument.beginStructure();
    argument << ref.service << ref.path;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, AccessibleRef& ref)
{
    argument.beginStructure();
    argument >> ref.service >> ref.path;
    argument.endStructure();
    return argument;
}

const QString kAccessible = QStringLiteral("org.a11y.atspi.Accessible");
const QString kText = QStringLiteral("org.a11y.atspi.Text");
const QString kComponent = QStringLiteral("org.a11y.atspi.Component");
const QString kRegistry = QStringLiteral("org.a11y.atspi.Registry");
const QString kRoot = QStringLiteral("/org/a11y/atspi/accessible/root");

constexpr uint kCoordTypeScreen = 0;
constexpr int kStateFocused = 12;
constexpr int kStateShowing = 25;
// A hostile or huge tree must not stall the interface: the walk stops at
// these bounds and answers "unavailable".
constexpr int kCallTimeoutMs = 250;
constexpr int kWalkBudgetMs = 600;
constexpr int kMaxNodes = 4000;
constexpr int kMaxDepth = 48;
constexpr int kMaxChildren = 2000;

std::optional<QList<QVariant>> call(const QDBusConnection& bus, const QString& service, const QString& path,
                                    const QString& interface, const QString& method,
                                    const QList<QVariant>& arguments = {})
{
    QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
    message.setArguments(arguments);
    const QDBusMessage reply = bus.call(message, QDBus::Block, kCallTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage)
        return std::nullopt;
    return reply.arguments();
}

std::optional<quint64> states(const QDBusConnection& bus, const QString& service, const QString& path)
{
    const auto reply = call(bus, service, path, kAccessible, QStringLiteral("GetState"));
    if (!reply || reply->isEmpty())
        return std::nullopt;
    const QDBusArgument argument = reply->first().value<QDBusArgument>();
    QList<uint> words;
    argument >> words;
    quint64 bits = 0;
    for (int i = 0; i < words.size() && i < 2; ++i)
        bits |= quint64(words.at(i)) << (32 * i);
    return bits;
}

QList<AccessibleRef> children(const QDBusConnection& bus, const QString& service, const QString& path)
{
    const auto reply = call(bus, service, path, kAccessible, QStringLiteral("GetChildren"));
    QList<AccessibleRef> list;
    if (!reply || reply->isEmpty())
        return list;
    const QDBusArgument argument = reply->first().value<QDBusArgument>();
    argument.beginArray();
    while (!argument.atEnd() && list.size() < kMaxChildren) {
        AccessibleRef ref;
        argument >> ref;
        list.append(ref);
    }
    argument.endArray();
    return list;
}

double pixelRatio()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    const double ratio = screen ? screen->devicePixelRatio() : 1.0;
    return ratio > 0 ? ratio : 1.0;
}

std::optional<QRectF> logicalRect(int x, int y, int width, int height)
{
    // Toolkits answer (-1, -1, -1, -1) or zero sizes when they have no extents.
    if (width <= 0 || height <= 0 || (x == -1 && y == -1))
        return std::nullopt;
    const double ratio = pixelRatio();
    return QRectF(x / ratio, y / ratio, width / ratio, height / ratio);
}

std::optional<QRectF> rectFromReply(const std::optional<QList<QVariant>>& reply)
{
    if (!reply)
        return std::nullopt;
    if (reply->size() == 4)
        return logicalRect(reply->at(0).toInt(), reply->at(1).toInt(), reply->at(2).toInt(), reply->at(3).toInt());
    if (reply->size() == 1 && reply->first().canConvert<QDBusArgument>()) {
        const QDBusArgument argument = reply->first().value<QDBusArgument>();
        int x = 0, y = 0, w = 0, h = 0;
        argument.beginStructure();
        argument >> x >> y >> w >> h;
        argument.endStructure();
        return logicalRect(x, y, w, h);
    }
    return std::nullopt;
}

std::atomic<int> connectionSerial{0};

} // namespace

AtSpiSelectionLocator::AtSpiSelectionLocator(std::shared_ptr<Workspace> workspace)
    : workspace_(std::move(workspace))
    , connectionName_(QStringLiteral("vellox-a11y-%1").arg(++connectionSerial))
{
    qDBusRegisterMetaType<AccessibleRef>();
    qDBusRegisterMetaType<QList<AccessibleRef>>();
}

AtSpiSelectionLocator::~AtSpiSelectionLocator()
{
    if (connected_)
        QDBusConnection::disconnectFromBus(connectionName_);
}

std::optional<QDBusConnection> AtSpiSelectionLocator::accessibilityBus()
{
    if (connected_) {
        QDBusConnection bus(connectionName_);
        if (bus.isConnected())
            return bus;
        QDBusConnection::disconnectFromBus(connectionName_);
        connected_ = false;
    }
    QString address = qEnvironmentVariable("AT_SPI_BUS_ADDRESS");
    if (address.isEmpty()) {
        QDBusConnection session = QDBusConnection::sessionBus();
        if (!session.isConnected())
            return std::nullopt;
        QDBusMessage message = QDBusMessage::createMethodCall(QStringLiteral("org.a11y.Bus"), QStringLiteral("/org/a11y/bus"),
                                                              QStringLiteral("org.a11y.Bus"), QStringLiteral("GetAddress"));
        // The first call may start the bus launcher.
        const QDBusReply<QString> reply = session.call(message, QDBus::Block, 2000);
        if (!reply.isValid())
            return std::nullopt;
        address = reply.value();
    }
    if (address.isEmpty())
        return std::nullopt;
    QDBusConnection bus = QDBusConnection::connectToBus(address, connectionName_);
    connected_ = true;
    if (!bus.isConnected())
        return std::nullopt;
    return bus;
}

std::optional<AtSpiSelectionLocator::Node> AtSpiSelectionLocator::focusedNode(qint64 pid)
{
    auto bus = accessibilityBus();
    if (!bus)
        return std::nullopt;
    QDeadlineTimer budget(kWalkBudgetMs);
    // The applications registered with the accessibility registry; the one
    // whose bus peer is the front window's process is walked.
    const QList<AccessibleRef> applications = children(*bus, kRegistry, kRoot);
    QDBusConnectionInterface* peers = bus->interface();
    for (const AccessibleRef& application : applications) {
        if (budget.hasExpired())
            return std::nullopt;
        if (pid > 0 && peers) {
            const QDBusReply<uint> owner = peers->servicePid(application.service);
            if (!owner.isValid() || qint64(owner.value()) != pid)
                continue;
        }
        struct Entry {
            AccessibleRef ref;
            int depth;
        };
        QList<Entry> stack{{application, 0}};
        int visited = 0;
        while (!stack.isEmpty() && visited < kMaxNodes && !budget.hasExpired()) {
            const Entry entry = stack.takeLast();
            ++visited;
            const auto bits = states(*bus, entry.ref.service, entry.ref.path.path());
            if (!bits)
                continue;
            if (entry.depth > 0 && (*bits & (quint64(1) << kStateFocused)))
                return Node{entry.ref.service, entry.ref.path.path()};
            // Hidden subtrees cannot hold the focus.
            if (entry.depth > 0 && !(*bits & (quint64(1) << kStateShowing)))
                continue;
            if (entry.depth >= kMaxDepth)
                continue;
            const QList<AccessibleRef> kids = children(*bus, entry.ref.service, entry.ref.path.path());
            for (auto it = kids.crbegin(); it != kids.crend(); ++it)
                stack.append({*it, entry.depth + 1});
        }
    }
    return std::nullopt;
}

std::optional<SelectionLocator::FocusedElement> AtSpiSelectionLocator::focusedElement()
{
    const auto front = workspace_ ? workspace_->frontmostApplication() : std::nullopt;
    const auto node = focusedNode(front ? front->pid : 0);
    if (!node)
        return std::nullopt;
    QDBusConnection bus(connectionName_);
    FocusedElement element;
    const auto selections = call(bus, node->service, node->path, kText, QStringLiteral("GetNSelections"));
    if (selections && !selections->isEmpty() && selections->first().toInt() > 0) {
        const auto range = call(bus, node->service, node->path, kText, QStringLiteral("GetSelection"), {QVariant(0)});
        if (range && range->size() >= 2) {
            const int start = range->at(0).toInt();
            const int end = range->at(1).toInt();
            if (end > start) {
                element.selectionBounds = rectFromReply(call(bus, node->service, node->path, kText,
                                                             QStringLiteral("GetRangeExtents"),
                                                             {QVariant(start), QVariant(end), QVariant(kCoordTypeScreen)}));
            }
        }
    }
    element.elementBounds = rectFromReply(call(bus, node->service, node->path, kComponent,
                                               QStringLiteral("GetExtents"), {QVariant(kCoordTypeScreen)}));
    return element;
}

} // namespace platform::linuxbackend
