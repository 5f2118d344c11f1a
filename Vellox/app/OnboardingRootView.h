#pragma once

#include "Vellox/app/ConnectPanel.h"
#include "Vellox/app/OnboardingTypes.h"

#include <QPointer>
#include <QWidget>

#include <functional>

class QParallelAnimationGroup;

// Hosts the three onboarding panels and moves between them: the new panel
// slides in from the trailing edge and fades in while the old one leaves
// towards the leading edge. The provider, key and connection state live
// here, so they keep their values across panels.
class OnboardingRootView : public QWidget {
    Q_OBJECT
public:
    static constexpr int kWidth = 480;
    static constexpr int kHeight = 520;

    OnboardingRootView(OnboardingPanel initialPanel, std::function<void()> onFinish,
                       std::function<void()> onOpenAccessibility, QWidget* parent = nullptr);

    OnboardingPanel panel() const { return panel_; }
    const ConnectPanel::State& connectState() const { return state_; }
    QWidget* panelView() const { return current_; }

    void advanceFromConnect();
    void goToReadyPanel();

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QCoro::Task<void> advanceAfterPermissionRefresh();
    void setPanel(OnboardingPanel panel, bool animated);
    QWidget* makePanelView(OnboardingPanel panel);

    OnboardingPanel panel_;
    ConnectPanel::State state_;
    std::function<void()> onFinish_;
    std::function<void()> onOpenAccessibility_;
    QWidget* stage_;
    QPointer<QWidget> current_;
    QPointer<QParallelAnimationGroup> transition_;
    bool appeared_ = false;
};
