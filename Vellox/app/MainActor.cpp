#include "Vellox/app/MainActor.h"

#include <QTimer>

namespace MainActor {

void post(QObject* context, std::function<void()> work)
{
    QMetaObject::invokeMethod(context, std::move(work), Qt::QueuedConnection);
}

void postTask(QObject* context, std::function<QCoro::Task<void>()> start)
{
    post(context, [start = std::move(start)] { start(); });
}

void after(QObject* context, std::chrono::milliseconds delay, std::function<void()> work)
{
    QTimer::singleShot(delay, context, std::move(work));
}

} // namespace MainActor
