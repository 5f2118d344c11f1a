#include "Vellox/app/OnboardingTypes.h"

#include "Vellox/app/EngineAdapters.h"

namespace OnboardingKeyCheck {

namespace {
Validator& installed()
{
    static Validator validator;
    return validator;
}
} // namespace

const Validator& current()
{
    static const Validator program = [](ProviderId provider, QString key) {
        return EngineAdapters::validateOnboardingKey(provider, std::move(key));
    };
    return installed() ? installed() : program;
}

void install(Validator validator)
{
    installed() = std::move(validator);
}

} // namespace OnboardingKeyCheck
