#include "Vellox/panels/CustomInstructionPanel.h"

#include "Vellox/app/VelloxTokens.h"
#include "Vellox/panels/CustomInstructionView.h"
#include "Vellox/panels/FloatingPanel.h"
#include "Vellox/panels/OneShotAnswer.h"
#include "Vellox/panels/PanelKeys.h"
#include "Vellox/panels/PanelQuestion.h"

#include <QKeyEvent>
#include <QPointer>

#include <algorithm>

namespace {

using Answer = OneShotAnswer<std::optional<QString>>;

const PanelCard::Style kCardStyle{PanelCard::Style::Shape::roundedRect, VelloxTokens::Radius::card, 0.22, 18, {0, 6}};

struct State {
    std::optional<Answer> answer;
    QPointer<CustomInstructionView> view;
    PanelQuestion question{UIWindowCoordinator::Surface::instructionPanel,
                           [](QKeyEvent* event) { return CustomInstructionPanel::handleLocalKey(event); },
                           [] { CustomInstructionPanel::finish(std::nullopt); }};
};

State& state()
{
    static State* instance = new State;
    return *instance;
}

void present(Answer answer)
{
    State& s = state();
    if (s.question.isShowing())
        CustomInstructionPanel::finish(std::nullopt);
    s.answer = std::move(answer);
    s.question.beginShowing();

    auto* view = new CustomInstructionView;
    s.view = view;
    const QSize size = CustomInstructionPanel::panelSize(view->fittingSize());
    const QRectF frame = PanelEnvironment::current().anchoredFrame(QSizeF(size), PanelEnvironment::Placement::below);
    auto* panel = new FloatingPanel(FloatingPanel::Kind::keyable, kCardStyle, view);
    panel->setCardFrame(QRectF(frame.topLeft(), QSizeF(size)));
    s.question.showPanel(panel, CustomInstructionPanel::fadeInMs);
    view->focusField();
}

} // namespace

QCoro::Task<std::optional<QString>> CustomInstructionPanel::prompt()
{
    Answer answer;
    present(answer);
    co_return co_await answer;
}

void CustomInstructionPanel::finish(std::optional<QString> text)
{
    State& s = state();
    std::optional<Answer> answer = std::exchange(s.answer, std::nullopt);
    s.view = nullptr;
    s.question.endShowing([](FloatingPanel* panel) {
        // Ordered out only once the fade-out has run, then deleted.
        panel->setEnabled(false);
        panel->fadeTo(0, fadeOutMs, [panel] {
            panel->hide();
            panel->deleteLater();
        });
    });
    if (answer)
        answer->answer(std::move(text));
    s.question.handBackKeyboard();
}

bool CustomInstructionPanel::isShowing()
{
    return state().question.isShowing();
}

FloatingPanel* CustomInstructionPanel::panel()
{
    return state().question.panel();
}

QSize CustomInstructionPanel::panelSize(QSize fitting)
{
    return QSize(std::clamp(fitting.width(), minWidth, maxWidth), std::clamp(fitting.height(), minHeight, maxHeight));
}

bool CustomInstructionPanel::handleLocalKey(const QKeyEvent* event)
{
    const std::optional<qint64> key = PanelKeys::virtualKeyOf(event);
    if (!key)
        return false;
    switch (*key) {
    case PanelKeys::escape:
        finish(std::nullopt);
        return true;
    case PanelKeys::returnKey:
    case PanelKeys::keypadEnter: {
        const QString text = state().view ? state().view->draft().trimmed() : QString();
        if (!text.isEmpty())
            finish(text);
        // Swallowed even when blank, so the field never sees Return.
        return true;
    }
    default:
        return false;
    }
}
