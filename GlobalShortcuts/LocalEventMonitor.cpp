#include "LocalEventMonitor.h"

#include <QCoreApplication>

namespace GlobalShortcuts {

LocalEventMonitor::LocalEventMonitor(QSet<QEvent::Type> events, Callback callback, QObject* parent)
    : QObject(parent)
    , events_(std::move(events))
    , callback_(std::move(callback))
{
}

LocalEventMonitor::~LocalEventMonitor()
{
    stop();
}

LocalEventMonitor& LocalEventMonitor::start()
{
    if (!active_ && QCoreApplication::instance()) {
        QCoreApplication::instance()->installEventFilter(this);
        active_ = true;
    }
    return *this;
}

void LocalEventMonitor::stop()
{
    if (active_ && QCoreApplication::instance())
        QCoreApplication::instance()->removeEventFilter(this);
    active_ = false;
}

bool LocalEventMonitor::eventFilter(QObject* watched, QEvent* event)
{
    if (!active_ || !events_.contains(event->type()))
        return false;
    return callback_(watched, event);
}

} // namespace GlobalShortcuts
