#include "Vellox/rewrite/RewriteSurfaces.h"

namespace {

class SilentSurfaces final : public RewriteSurfaces {
public:
    QCoro::Task<std::optional<TonePickerChoice>> askTone(QList<TonePreset>, bool) override { co_return std::nullopt; }
    QCoro::Task<std::optional<QString>> askInstruction() override { co_return std::nullopt; }
    void showSpinner() override {}
    void hideSpinner() override {}
    void presentNotice(const RewriteFeedbackMessage&, double) override {}
    void closeSettingsWindowIfOpen() override {}
    void closeMenuPopoverIfOpen() override {}
};

SilentSurfaces silentSurfaces;
RewriteSurfaces* installed = nullptr;

} // namespace

RewriteSurfaces& RewriteSurfaces::current()
{
    return installed ? *installed : silentSurfaces;
}

void RewriteSurfaces::install(RewriteSurfaces* surfaces)
{
    installed = surfaces;
}
