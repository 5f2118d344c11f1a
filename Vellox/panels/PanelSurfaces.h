#pragma once

#include "Vellox/rewrite/RewriteSurfaces.h"

// The real floating panels behind the rewrite engine's surfaces. The program
// makes one and installs it with RewriteSurfaces::install.
class PanelSurfaces final : public RewriteSurfaces {
public:
    QCoro::Task<std::optional<TonePickerChoice>> askTone(QList<TonePreset> presets, bool includeDescribeEdit) override;
    QCoro::Task<std::optional<QString>> askInstruction() override;
    void showSpinner() override;
    void hideSpinner() override;
    void presentNotice(const RewriteFeedbackMessage& message, double dismissAfterSeconds) override;
    void closeSettingsWindowIfOpen() override;
    void closeMenuPopoverIfOpen() override;
};
