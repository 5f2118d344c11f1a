#pragma once

#include "Vellox/panels/PanelEnvironment.h"

// The desktop's own services behind the panels.
class SystemPanelEnvironment final : public PanelEnvironment {
    Q_OBJECT
public:
    SystemPanelEnvironment();

    QRectF anchoredFrame(QSizeF size, Placement placement) override;
    std::optional<QRectF> mainScreenVisibleFrame() const override;
    QPointF mouseLocation() const override;
    std::optional<Application> frontmostApplication() const override;
    bool isThisProcess(const Application& application) const override;
    void activate(const Application& application) override;
    void activateThisApplication(QWidget* panel) override;
    void hideThisApplication() override;
};
