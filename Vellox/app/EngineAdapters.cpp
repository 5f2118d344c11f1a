#include "Vellox/app/EngineAdapters.h"

namespace EngineAdapters {

QCoro::Task<OnboardingKeyCheck::Result> validateOnboardingKey(ProviderId, QString)
{
    co_return OnboardingKeyCheck::Failure{QStringLiteral("Couldn't connect. Check your network.")};
}

void startShortcutRewrite() {}

void installServicesProvider() {}

} // namespace EngineAdapters
