#pragma once

#include <QObject>
#include <QString>
#include <QVariantMap>

#include <functional>

namespace platform {

// In-process notifications by name. A post from the main thread reaches its
// observers before post() returns; a post from another thread is delivered on
// the main thread. An observer lives as long as its context object.
class NotificationBus : public QObject {
    Q_OBJECT
public:
    using Handler = std::function<void(const QVariantMap& userInfo)>;

    explicit NotificationBus(QObject* parent = nullptr);

    void post(const QString& name, const QVariantMap& userInfo = {});
    QMetaObject::Connection observe(const QString& name, QObject* context, Handler handler);

signals:
    void posted(const QString& name, const QVariantMap& userInfo);
};

} // namespace platform
