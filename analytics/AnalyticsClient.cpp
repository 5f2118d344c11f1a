#include "AnalyticsClient.h"

#include "analytics/sdk/AnalyticsSDK.h"

#include <QMutex>

namespace analytics {

namespace {

// The application's door to the SDK's shared instance.
class SdkAnalyticsClient final : public AnalyticsClient {
public:
    void setup(std::shared_ptr<AnalyticsConfig> config) override { AnalyticsSDK::shared()->setup(std::move(config)); }
    void capture(const QString& event) override { AnalyticsSDK::shared()->capture(event); }
    void capture(const QString& event, const QVariantMap& properties) override
    {
        AnalyticsSDK::shared()->capture(event, properties);
    }
};

struct Installed {
    QMutex mutex;
    std::shared_ptr<AnalyticsClient> client;
};

Installed& installed()
{
    static Installed state;
    return state;
}

} // namespace

std::shared_ptr<AnalyticsClient> AnalyticsClient::shared()
{
    static const std::shared_ptr<AnalyticsClient> sdk = std::make_shared<SdkAnalyticsClient>();
    Installed& state = installed();
    QMutexLocker lock(&state.mutex);
    return state.client ? state.client : sdk;
}

std::shared_ptr<AnalyticsClient> AnalyticsClient::install(std::shared_ptr<AnalyticsClient> client)
{
    Installed& state = installed();
    QMutexLocker lock(&state.mutex);
    std::swap(state.client, client);
    return client;
}

} // namespace analytics
