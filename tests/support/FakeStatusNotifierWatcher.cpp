#include "support/FakeStatusNotifierWatcher.h"

namespace {

constexpr char kWatcherPath[] = "/StatusNotifierWatcher";

} // namespace

FakeStatusNotifierWatcher::FakeStatusNotifierWatcher(QDBusConnection bus)
    : bus_(std::move(bus))
{
    bus_.registerObject(QString::fromLatin1(kWatcherPath), this,
                        QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties);
}

FakeStatusNotifierWatcher::~FakeStatusNotifierWatcher()
{
    stop();
    bus_.unregisterObject(QString::fromLatin1(kWatcherPath));
}

bool FakeStatusNotifierWatcher::start()
{
    return bus_.registerService(QString::fromLatin1(kService));
}

bool FakeStatusNotifierWatcher::stop()
{
    return bus_.unregisterService(QString::fromLatin1(kService));
}
