#include "Testing.h"

#include "GlobalShortcuts/CarbonHotKeys.h"
#include "GlobalShortcuts/Constants.h"
#include "GlobalShortcuts/MenuTracking.h"
#include "GlobalShortcuts/RegistryInternals.h"

namespace GlobalShortcuts::testing {

void resetState()
{
    detail::resetRegistryState();
    CarbonHotKeys::detail::resetState();
    detail::resetMenuTracking();
    Constants::detail::setHostOverride(std::nullopt);
}

} // namespace GlobalShortcuts::testing
