#include "Vellox/panels/FeedbackHUD.h"

#include "Vellox/app/VelloxTokens.h"
#include "Vellox/panels/FeedbackHUDView.h"
#include "Vellox/panels/FloatingPanel.h"
#include "Vellox/panels/PanelEnvironment.h"

#include <QPointer>
#include <QTimer>

#include <cmath>

namespace {

const PanelCard::Style kCardStyle{PanelCard::Style::Shape::roundedRect, VelloxTokens::Radius::card, 0.18, 12, {0, 4}};

struct State {
    QPointer<FloatingPanel> panel;
    QPointer<QTimer> dismissTimer;
};

State& state()
{
    static State instance;
    return instance;
}

} // namespace

int FeedbackHUD::dismissDelayMs(double seconds)
{
    if (std::isnan(seconds) || seconds <= 0)
        return 0;
    if (seconds > longestDurationSeconds)
        seconds = longestDurationSeconds;
    return int(seconds * 1000);
}

std::optional<QRectF> FeedbackHUD::anchoredFrame(QSizeF size)
{
    const std::optional<QRectF> visible = PanelEnvironment::current().mainScreenVisibleFrame();
    if (!visible)
        return std::nullopt;
    return QRectF(QPointF(visible->right() - size.width() - rightInset, visible->top() + topInset), size);
}

void FeedbackHUD::present(const RewriteFeedbackMessage& message, double dismissAfterSeconds)
{
    State& s = state();
    if (s.dismissTimer) {
        s.dismissTimer->stop();
        s.dismissTimer->deleteLater();
    }
    if (FloatingPanel* old = std::exchange(s.panel, nullptr)) {
        old->orderOut();
        old->deleteLater();
    }

    auto* view = new FeedbackHUDView(message);
    const QSize fitting = view->fittingSize();
    const QSizeF size(std::max(fitting.width(), FeedbackHUDView::minWidth),
                      std::max(fitting.height(), FeedbackHUDView::minHeight));
    const std::optional<QRectF> frame = anchoredFrame(size);
    if (!frame) {
        delete view;
        return;
    }
    auto* panel = new FloatingPanel(FloatingPanel::Kind::nonActivating, kCardStyle, view);
    panel->setCardFrame(*frame);
    panel->orderFront(0);
    panel->fadeTo(1, fadeMs);
    s.panel = panel;

    auto* timer = new QTimer(panel);
    timer->setSingleShot(true);
    timer->setTimerType(Qt::PreciseTimer);
    QObject::connect(timer, &QTimer::timeout, timer, [] { hide(); });
    timer->start(dismissDelayMs(dismissAfterSeconds));
    s.dismissTimer = timer;
}

void FeedbackHUD::hide()
{
    State& s = state();
    FloatingPanel* panel = std::exchange(s.panel, nullptr);
    if (!panel)
        return;
    panel->fadeTo(0, fadeMs, [panel] {
        panel->hide();
        panel->deleteLater();
    });
}

FloatingPanel* FeedbackHUD::panel()
{
    return state().panel;
}
