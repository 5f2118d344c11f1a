#include "RewriteChromeState.h"

RewriteChromeState& RewriteChromeState::shared()
{
    static auto* instance = new RewriteChromeState; // lives until exit
    return *instance;
}

void RewriteChromeState::setPhase(Phase phase)
{
    phase_ = phase;
    emit phaseChanged(phase_);
}
