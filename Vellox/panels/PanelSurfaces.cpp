#include "Vellox/panels/PanelSurfaces.h"

#include "Vellox/panels/CustomInstructionPanel.h"
#include "Vellox/panels/FeedbackHUD.h"
#include "Vellox/panels/RewriteBusySpinner.h"
#include "Vellox/panels/TonePickerPanel.h"
#include "Vellox/panels/UIWindowCoordinator.h"

QCoro::Task<std::optional<TonePickerChoice>> PanelSurfaces::askTone(QList<TonePreset> presets,
                                                                    bool includeDescribeEdit)
{
    return TonePickerPanel::askUser(std::move(presets), includeDescribeEdit);
}

QCoro::Task<std::optional<QString>> PanelSurfaces::askInstruction()
{
    return CustomInstructionPanel::prompt();
}

void PanelSurfaces::showSpinner()
{
    RewriteBusySpinner::show();
}

void PanelSurfaces::hideSpinner()
{
    RewriteBusySpinner::hide();
}

void PanelSurfaces::presentNotice(const RewriteFeedbackMessage& message, double dismissAfterSeconds)
{
    FeedbackHUD::present(message, dismissAfterSeconds);
}

void PanelSurfaces::closeSettingsWindowIfOpen()
{
    UIWindowCoordinator::shared().closeSettingsWindowIfOpen();
}

void PanelSurfaces::closeMenuPopoverIfOpen()
{
    UIWindowCoordinator::shared().closeMenuPopoverIfOpen();
}
