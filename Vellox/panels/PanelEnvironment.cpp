#include "Vellox/panels/PanelEnvironment.h"

#include "Vellox/panels/SystemPanelEnvironment.h"

namespace {
PanelEnvironment* installed = nullptr;
} // namespace

PanelEnvironment& PanelEnvironment::current()
{
    if (installed)
        return *installed;
    static SystemPanelEnvironment* system = new SystemPanelEnvironment;
    return *system;
}

void PanelEnvironment::install(PanelEnvironment* environment)
{
    installed = environment;
}
