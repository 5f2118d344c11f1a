#include "Vellox/app/AccessibilityPanel.h"

#include "Vellox/app/InlineStatus.h"
#include "Vellox/app/KitPainting.h"
#include "Vellox/app/PrimaryButton.h"
#include "Vellox/app/ShellWidgets.h"
#include "Vellox/app/SymbolImage.h"
#include "Vellox/app/VelloxTokens.h"
#include "Vellox/rewrite/AppReadinessState.h"

#include <QCoroTask>
#include <QLabel>
#include <QPainter>
#include <QPointer>
#include <QTimer>
#include <QVBoxLayout>
#include <QVariantAnimation>

#include <algorithm>

using namespace VelloxTokens;

namespace {

constexpr int kTextWidth = 360;
constexpr int kBadgeHeight = 96;
constexpr qreal kBadgeCircle = 88;
constexpr int kPrimaryWidth = 200;
const QString kOpenSettingsTitle = QStringLiteral("Open Accessibility Settings");
constexpr int kStatusHeight = 22;

class PermissionBadge : public QWidget {
public:
    PermissionBadge(const bool& granted, QVariantAnimation* fade, QWidget* parent)
        : QWidget(parent)
        , granted_(granted)
        , fade_(fade)
    {
        setFixedHeight(kBadgeHeight);
        connect(fade, &QVariantAnimation::valueChanged, this, qOverload<>(&QWidget::update));
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing, true);
        const qreal t = fade_->currentValue().toReal();
        const QRectF circle((width() - kBadgeCircle) / 2, (height() - kBadgeCircle) / 2, kBadgeCircle, kBadgeCircle);
        // The thin material: a translucent wash of the window's own colour.
        const bool dark = appearanceOf(this) == Appearance::dark;
        painter.setPen(Qt::NoPen);
        painter.setBrush(dark ? QColor(255, 255, 255, 20) : QColor(255, 255, 255, 170));
        painter.drawEllipse(circle);
        const qreal line = 0.5 + (1.5 - 0.5) * t;
        QColor stroke = t >= 0.5 ? Colors::success.resolved(this) : Colors::divider.resolved(this);
        painter.setPen(QPen(stroke, line));
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(circle.adjusted(line / 2, line / 2, -line / 2, -line / 2));
        const QColor symbol = granted_ ? Colors::success.resolved(this) : Colors::textSecondary.resolved(this);
        SymbolImage::paint(painter, circle, granted_ ? QStringLiteral("checkmark") : QStringLiteral("lock.shield"), symbol,
                           34, QFont::DemiBold);
    }

private:
    const bool& granted_;
    QVariantAnimation* fade_;
};

} // namespace

AccessibilityPanel::AccessibilityPanel(std::function<void()> onOpenAccessibility, std::function<void()> onAdvance,
                                       QWidget* parent)
    : QWidget(parent)
    , onOpenAccessibility_(std::move(onOpenAccessibility))
    , onAdvance_(std::move(onAdvance))
{
    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(int(Spacing::l));

    auto* header = new QVBoxLayout;
    header->setSpacing(int(Spacing::xs));
    auto* title = ShellWidgets::text(QStringLiteral("Allow Accessibility"), Typography::title, Colors::textPrimary, true);
    auto* subtitle = ShellWidgets::text(QStringLiteral("So Vellox can read and replace text you select in any app."),
                                        Typography::body, Colors::textSecondary, true);
    for (QLabel* label : {title, subtitle}) {
        label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
        ShellWidgets::fixWidth(label, kTextWidth);
        header->addWidget(label, 0, Qt::AlignHCenter);
    }
    root->addLayout(header);

    auto* steps = new QVBoxLayout;
    steps->setSpacing(int(Spacing::xs));
    for (const char* step : {"1. Vellox types through the X11 XTEST extension.",
                             "2. Log in to an X11 session where XTEST is enabled.",
                             "3. Return here — we'll detect permission automatically."}) {
        auto* label = ShellWidgets::text(QString::fromUtf8(step), Typography::secondary, Colors::textSecondary, true);
        ShellWidgets::fixWidth(label, kTextWidth);
        steps->addWidget(label);
    }
    root->addLayout(steps);
    root->setAlignment(steps, Qt::AlignHCenter);

    badgeFade_ = KitPainting::makeFade(this, Motion::emphasisMs);
    badge_ = new PermissionBadge(grantedFlash_, badgeFade_, this);
    root->addWidget(badge_);

    primary_ = new PrimaryButton(kOpenSettingsTitle, std::nullopt, [this] { pressPrimary(); });
    primary_->setObjectName(QStringLiteral("accessibilityPrimary"));
    // The design's width, or the width the longer title needs: it is never cut.
    primary_->setFixedWidth(std::max(kPrimaryWidth, primary_->sizeHint().width()));
    root->addWidget(primary_, 0, Qt::AlignHCenter);

    status_ = new InlineStatus(InlineStatus::Tone::neutral, QString());
    status_->setObjectName(QStringLiteral("accessibilityStatus"));
    status_->setFixedHeight(kStatusHeight);
    QSizePolicy policy = status_->sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    status_->setSizePolicy(policy);
    root->addWidget(status_, 0, Qt::AlignHCenter);
    root->addStretch(1);

    lastStatus_ = int(AppReadinessState::shared().permissionStatus());
    connect(&AppReadinessState::shared(), &AppReadinessState::permissionStatusChanged, this,
            &AccessibilityPanel::permissionChanged);
    sync();
}

void AccessibilityPanel::pressPrimary()
{
    if (AppReadinessState::shared().permissionStatus() == AccessibilityPermissionStatus::granted) {
        if (onAdvance_)
            onAdvance_();
        return;
    }
    if (onOpenAccessibility_)
        onOpenAccessibility_();
    AppReadinessState::shared().startPolling(kPollSeconds, kPollIntervalNanoseconds);
    isWaiting_ = true;
    sync();
}

void AccessibilityPanel::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (appeared_)
        return;
    appeared_ = true;
    QPointer<AccessibilityPanel> self(this);
    QMetaObject::invokeMethod(
        this,
        [self]() -> void {
            [](QPointer<AccessibilityPanel> panel) -> QCoro::Task<void> {
                co_await AppReadinessState::shared().refreshPermissionStatusAsync();
                if (panel && AppReadinessState::shared().permissionStatus() == AccessibilityPermissionStatus::granted)
                    panel->scheduleAdvance(kAdvanceOnAppearMs);
            }(self);
        },
        Qt::QueuedConnection);
}

void AccessibilityPanel::permissionChanged()
{
    // The state object announces every assignment; only a real change to
    // granted flashes the badge and moves on.
    const auto status = AppReadinessState::shared().permissionStatus();
    const bool becameGranted = status == AccessibilityPermissionStatus::granted && lastStatus_ != int(status);
    lastStatus_ = int(status);
    if (becameGranted && isVisible()) {
        if (!grantedFlash_) {
            grantedFlash_ = true;
            KitPainting::fadeTo(badgeFade_, 1.0);
        }
        scheduleAdvance(kAdvanceOnGrantMs);
    }
    sync();
}

void AccessibilityPanel::scheduleAdvance(int milliseconds)
{
    // Each scheduled advance fires; the root view ignores a repeat.
    auto advance = onAdvance_;
    QTimer::singleShot(milliseconds, parentWidget() ? parentWidget() : this, [advance] {
        if (advance)
            advance();
    });
}

void AccessibilityPanel::sync()
{
    const bool granted = AppReadinessState::shared().permissionStatus() == AccessibilityPermissionStatus::granted;
    primary_->setText(granted ? QStringLiteral("Continue") : kOpenSettingsTitle);
    primary_->update();
    if (granted) {
        status_->set(InlineStatus::Tone::success, QStringLiteral("Permission granted"));
        status_->setVisible(true);
    } else if (isWaiting_) {
        status_->set(InlineStatus::Tone::neutral, QStringLiteral("Waiting for permission…"));
        status_->setVisible(true);
    } else {
        status_->setVisible(false);
    }
    badge_->update();
}
