#pragma once

#include <QWidget>

#include <functional>

class InlineStatus;
class PrimaryButton;
class QVariantAnimation;

// The second onboarding panel: why Vellox needs Accessibility, a button to
// the system settings, and a watch that moves on once it is granted.
class AccessibilityPanel : public QWidget {
    Q_OBJECT
public:
    static constexpr int kAdvanceOnAppearMs = 350;
    static constexpr int kAdvanceOnGrantMs = 600;
    static constexpr double kPollSeconds = 15;
    static constexpr quint64 kPollIntervalNanoseconds = 500'000'000;

    AccessibilityPanel(std::function<void()> onOpenAccessibility, std::function<void()> onAdvance,
                       QWidget* parent = nullptr);

    bool grantedFlash() const { return grantedFlash_; }
    bool isWaiting() const { return isWaiting_; }
    PrimaryButton* primaryAction() const { return primary_; }
    InlineStatus* statusRow() const { return status_; }

    void scheduleAdvance(int milliseconds);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void pressPrimary();
    void permissionChanged();
    void sync();

    std::function<void()> onOpenAccessibility_;
    std::function<void()> onAdvance_;
    bool grantedFlash_ = false;
    bool isWaiting_ = false;
    bool appeared_ = false;
    int lastStatus_ = 0;

    QWidget* badge_;
    QVariantAnimation* badgeFade_;
    PrimaryButton* primary_;
    InlineStatus* status_;
};
