#include "AnalyticsClient.h"

#include <QMutex>

namespace analytics {

namespace {

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
    Installed& state = installed();
    QMutexLocker lock(&state.mutex);
    return state.client;
}

std::shared_ptr<AnalyticsClient> AnalyticsClient::install(std::shared_ptr<AnalyticsClient> client)
{
    Installed& state = installed();
    QMutexLocker lock(&state.mutex);
    std::swap(state.client, client);
    return client;
}

} // namespace analytics
