#include "ApplicationLifecyclePublisher.h"

#include <QGuiApplication>

namespace analytics {

ApplicationLifecyclePublisher& ApplicationLifecyclePublisher::shared()
{
    static ApplicationLifecyclePublisher* publisher = new ApplicationLifecyclePublisher; // lives until exit
    return *publisher;
}

ApplicationLifecyclePublisher::ApplicationLifecyclePublisher()
{
    if (auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        moveToThread(app->thread());
        connect(app, &QGuiApplication::applicationStateChanged, this,
                [this](Qt::ApplicationState state) { applicationStateChanged(state); });
    }
}

void ApplicationLifecyclePublisher::applicationStateChanged(Qt::ApplicationState state)
{
    // Qt reports hidden, inactive and suspended separately; each of them
    // after being active is one resignation.
    const bool active = state == Qt::ApplicationActive;
    if (active == active_)
        return;
    active_ = active;
    if (active)
        didBecomeActive_.invoke();
    else
        didEnterBackground_.invoke();
}

} // namespace analytics
