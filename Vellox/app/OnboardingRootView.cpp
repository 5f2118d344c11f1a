#include "Vellox/app/OnboardingRootView.h"

#include "Vellox/app/AccessibilityPanel.h"
#include "Vellox/app/OpenSettingsRequest.h"
#include "Vellox/app/ReadyPanel.h"
#include "Vellox/app/VelloxTokens.h"
#include "Vellox/rewrite/AppReadinessState.h"
#include "Vellox/settings/PreferencesStore.h"

#include <QGraphicsOpacityEffect>
#include <QParallelAnimationGroup>
#include <QPropertyAnimation>

namespace {
// How far a panel travels while it slides, as a share of the stage width.
constexpr qreal kSlideShare = 0.35;
} // namespace

OnboardingRootView::OnboardingRootView(OnboardingPanel initialPanel, std::function<void()> onFinish,
                                       std::function<void()> onOpenAccessibility, QWidget* parent)
    : QWidget(parent)
    , panel_(initialPanel)
    , onFinish_(std::move(onFinish))
    , onOpenAccessibility_(std::move(onOpenAccessibility))
{
    state_.provider = PreferencesStore::shared().settings().provider;
    setFixedSize(kWidth, kHeight);
    const int pad = int(VelloxTokens::Spacing::xl);
    // The stage clips its children, so sliding panels never draw outside it.
    stage_ = new QWidget(this);
    stage_->setGeometry(pad, pad, kWidth - 2 * pad, kHeight - 2 * pad);
    setPanel(initialPanel, false);
}

void OnboardingRootView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    const int pad = int(VelloxTokens::Spacing::xl);
    stage_->setGeometry(pad, pad, width() - 2 * pad, height() - 2 * pad);
    if (current_ && !transition_)
        current_->setGeometry(stage_->rect());
}

void OnboardingRootView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (appeared_)
        return;
    appeared_ = true;
    QMetaObject::invokeMethod(
        &AppReadinessState::shared(), [] { AppReadinessState::shared().refreshPermissionStatusAsync(); },
        Qt::QueuedConnection);
}

QWidget* OnboardingRootView::makePanelView(OnboardingPanel panel)
{
    QPointer<OnboardingRootView> self(this);
    switch (panel) {
    case OnboardingPanel::connect:
        return new ConnectPanel(state_, [self] {
            if (self)
                self->advanceFromConnect();
        });
    case OnboardingPanel::accessibility:
        return new AccessibilityPanel(
            [self] {
                if (self && self->onOpenAccessibility_)
                    self->onOpenAccessibility_();
            },
            [self] {
                if (self)
                    self->goToReadyPanel();
            });
    case OnboardingPanel::ready:
        return new ReadyPanel(
            [self] {
                if (self && self->onFinish_)
                    self->onFinish_();
            },
            [] { OpenSettingsRequest::post(); });
    }
    return nullptr;
}

void OnboardingRootView::setPanel(OnboardingPanel panel, bool animated)
{
    panel_ = panel;
    QWidget* next = makePanelView(panel);
    next->setParent(stage_);
    next->setObjectName(QStringLiteral("onboardingPanel"));
    const QRect home = stage_->rect();
    QPointer<QWidget> previous = current_;
    current_ = next;
    if (transition_) {
        transition_->stop();
        transition_->deleteLater();
    }
    if (!animated || !previous) {
        if (previous)
            previous->deleteLater();
        next->setGeometry(home);
        next->show();
        return;
    }

    const int travel = int(home.width() * kSlideShare);
    auto* group = new QParallelAnimationGroup(this);
    const auto addSlide = [&](QWidget* widget, QPoint from, QPoint to, qreal fromOpacity, qreal toOpacity) {
        auto* effect = new QGraphicsOpacityEffect(widget);
        effect->setOpacity(fromOpacity);
        widget->setGraphicsEffect(effect);
        auto* move = new QPropertyAnimation(widget, "pos", group);
        move->setStartValue(from);
        move->setEndValue(to);
        auto* fade = new QPropertyAnimation(effect, "opacity", group);
        fade->setStartValue(fromOpacity);
        fade->setEndValue(toOpacity);
        for (auto* animation : {move, fade}) {
            animation->setDuration(VelloxTokens::Motion::panelTransitionMs);
            animation->setEasingCurve(QEasingCurve::OutCubic);
            group->addAnimation(animation);
        }
    };
    next->setGeometry(home.translated(travel, 0));
    next->show();
    addSlide(next, home.topLeft() + QPoint(travel, 0), home.topLeft(), 0.0, 1.0);
    addSlide(previous, previous->pos(), home.topLeft() - QPoint(travel, 0), 1.0, 0.0);
    connect(group, &QAbstractAnimation::finished, this, [previous, next = QPointer<QWidget>(next)] {
        if (previous)
            previous->deleteLater();
        // The effect would keep rendering the panel through an offscreen
        // buffer for no gain once it is fully shown.
        if (next)
            next->setGraphicsEffect(nullptr);
    });
    transition_ = group;
    group->start(QAbstractAnimation::DeleteWhenStopped);
}

void OnboardingRootView::advanceFromConnect()
{
    QPointer<OnboardingRootView> self(this);
    QMetaObject::invokeMethod(
        this, [self] {
            if (self)
                self->advanceAfterPermissionRefresh();
        },
        Qt::QueuedConnection);
}

QCoro::Task<void> OnboardingRootView::advanceAfterPermissionRefresh()
{
    QPointer<OnboardingRootView> self(this);
    co_await AppReadinessState::shared().refreshPermissionStatusAsync();
    if (!self)
        co_return;
    if (AppReadinessState::shared().permissionStatus() == AccessibilityPermissionStatus::granted) {
        if (panel_ != OnboardingPanel::ready)
            setPanel(OnboardingPanel::ready, true);
    } else if (panel_ != OnboardingPanel::accessibility) {
        // Never backwards: a repeated advance on a later panel changes nothing.
        if (panel_ == OnboardingPanel::connect)
            setPanel(OnboardingPanel::accessibility, true);
    }
}

void OnboardingRootView::goToReadyPanel()
{
    if (panel_ != OnboardingPanel::ready)
        setPanel(OnboardingPanel::ready, true);
}
