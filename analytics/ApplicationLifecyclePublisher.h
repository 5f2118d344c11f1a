#pragma once

#include "analytics/AnalyticsMulticastCallback.h"

#include <QObject>

namespace analytics {

// The application's activation signals for the client. The program has no
// main window: being active means one of its windows or menus has focus,
// and resigning that state counts as entering the background.
class AppLifecyclePublishing {
public:
    virtual ~AppLifecyclePublishing() = default;
    virtual AnalyticsMulticastCallback<>& onDidBecomeActive() = 0;
    virtual AnalyticsMulticastCallback<>& onDidEnterBackground() = 0;
    virtual AnalyticsMulticastCallback<>& onDidFinishLaunching() = 0;
};

class ApplicationLifecyclePublisher final : public QObject, public AppLifecyclePublishing {
    Q_OBJECT
public:
    // Follows the GUI application's state once there is one.
    static ApplicationLifecyclePublisher& shared();

    AnalyticsMulticastCallback<>& onDidBecomeActive() override { return didBecomeActive_; }
    AnalyticsMulticastCallback<>& onDidEnterBackground() override { return didEnterBackground_; }
    AnalyticsMulticastCallback<>& onDidFinishLaunching() override { return didFinishLaunching_; }

    // For the application shell once start-up is done, and for tests.
    void applicationDidFinishLaunching() { didFinishLaunching_.invoke(); }
    void applicationStateChanged(Qt::ApplicationState state);

private:
    ApplicationLifecyclePublisher();

    AnalyticsMulticastCallback<> didBecomeActive_;
    AnalyticsMulticastCallback<> didEnterBackground_;
    AnalyticsMulticastCallback<> didFinishLaunching_;
    bool active_ = false;
};

// Where the client finds its process-wide services.
namespace DI {
struct Container {
    AppLifecyclePublishing& appLifecyclePublisher() { return ApplicationLifecyclePublisher::shared(); }
};
inline Container& main()
{
    static Container container;
    return container;
}
} // namespace DI

} // namespace analytics
