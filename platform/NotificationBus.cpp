#include "NotificationBus.h"

#include <QCoreApplication>
#include <QThread>

namespace platform {

NotificationBus::NotificationBus(QObject* parent)
    : QObject(parent)
{
    if (auto* app = QCoreApplication::instance())
        moveToThread(app->thread());
}

void NotificationBus::post(const QString& name, const QVariantMap& userInfo)
{
    if (QThread::currentThread() == thread()) {
        emit posted(name, userInfo);
        return;
    }
    QMetaObject::invokeMethod(
        this, [this, name, userInfo] { emit posted(name, userInfo); }, Qt::QueuedConnection);
}

QMetaObject::Connection NotificationBus::observe(const QString& name, QObject* context, Handler handler)
{
    return connect(this, &NotificationBus::posted, context,
                   [name, handler = std::move(handler)](const QString& posted, const QVariantMap& info) {
                       if (posted == name)
                           handler(info);
                   });
}

} // namespace platform
