#pragma once

#include "analytics/AnalyticsConfig.h"

#include <QString>
#include <QVariantMap>

#include <memory>

namespace analytics {

// The analytics client as the application drives it: set up once, then handed
// events. Implementations are safe to call from any thread.
class AnalyticsClient {
public:
    virtual ~AnalyticsClient() = default;

    virtual void setup(std::shared_ptr<AnalyticsConfig> config) = 0;
    virtual void capture(const QString& event) = 0;
    virtual void capture(const QString& event, const QVariantMap& properties) = 0;

    // The client events go to: an installed one (tests), else the SDK's shared
    // instance.
    static std::shared_ptr<AnalyticsClient> shared();
    // Replaces the installed client (none: back to the default); returns the
    // previous one.
    static std::shared_ptr<AnalyticsClient> install(std::shared_ptr<AnalyticsClient> client);
};

// Installs a client for its lifetime and puts the previous one back.
class ScopedAnalyticsClient {
public:
    explicit ScopedAnalyticsClient(std::shared_ptr<AnalyticsClient> client)
        : previous_(AnalyticsClient::install(std::move(client)))
    {
    }
    ~ScopedAnalyticsClient() { AnalyticsClient::install(std::move(previous_)); }
    ScopedAnalyticsClient(const ScopedAnalyticsClient&) = delete;
    ScopedAnalyticsClient& operator=(const ScopedAnalyticsClient&) = delete;

private:
    std::shared_ptr<AnalyticsClient> previous_;
};

} // namespace analytics
