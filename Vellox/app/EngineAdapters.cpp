#include "Vellox/app/EngineAdapters.h"

#include "Vellox/rewrite/OnboardingValidator.h"
#include "Vellox/rewrite/RewriteCoordinator.h"
#include "Vellox/rewrite/VelloxServiceProvider.h"
#include "Vellox/settings/VelloxLog.h"

#include <QDBusConnection>

namespace EngineAdapters {

QCoro::Task<OnboardingKeyCheck::Result> validateOnboardingKey(ProviderId provider, QString key)
{
    const OnboardingValidator::ValidationResult result = co_await OnboardingValidator::validate(provider, key);
    if (result)
        co_return OnboardingKeyCheck::Failure{result->message};
    co_return std::nullopt;
}

void startShortcutRewrite()
{
    QMetaObject::invokeMethod(
        &RewriteCoordinator::shared(),
        [] { RewriteCoordinator::shared().rephraseSelection(RewriteCoordinator::Trigger::globalHotkey); },
        Qt::QueuedConnection);
}

void installServicesProvider()
{
    if (!VelloxServiceProvider::shared().registerOn(QDBusConnection::sessionBus()))
        VelloxLog::startup().notice(QStringLiteral("Services entry not available on the session bus"));
}

} // namespace EngineAdapters
