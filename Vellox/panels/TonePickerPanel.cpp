#include "Vellox/panels/TonePickerPanel.h"

#include "Vellox/panels/FloatingPanel.h"
#include "Vellox/panels/OneShotAnswer.h"
#include "Vellox/panels/PanelKeys.h"
#include "Vellox/panels/PanelQuestion.h"
#include "Vellox/panels/SelectionCoordinator.h"
#include "Vellox/panels/TonePickerView.h"

#include "Vellox/app/VelloxTokens.h"

#include <QKeyEvent>

#include <algorithm>

namespace {

using Answer = OneShotAnswer<std::optional<TonePickerChoice>>;

const PanelCard::Style kCardStyle{PanelCard::Style::Shape::roundedRect, VelloxTokens::Radius::card, 0.22, 18, {0, 6}};

struct State {
    std::optional<Answer> answer;
    PanelQuestion question{UIWindowCoordinator::Surface::tonePicker,
                           [](QKeyEvent* event) { return TonePickerPanel::handleLocalKey(event); },
                           [] { TonePickerPanel::finish(std::nullopt); }};
};

State& state()
{
    static State* instance = new State;
    return *instance;
}

void present(const QList<TonePreset>& presets, bool includeDescribeEdit, Answer answer)
{
    State& s = state();
    if (s.question.isShowing())
        TonePickerPanel::finish(std::nullopt);
    s.answer = std::move(answer);
    s.question.beginShowing();

    SelectionCoordinator& coordinator = SelectionCoordinator::shared();
    coordinator.replace(includeDescribeEdit, presets);

    // A click on a row answers one turn later, and only the showing it was
    // made in.
    const quint64 generation = s.question.generation();
    auto* view = new TonePickerView(coordinator, [generation](const TonePickerChoice& choice) {
        QMetaObject::invokeMethod(
            &state().question,
            [generation, choice] {
                if (state().question.generation() == generation && state().question.isShowing())
                    TonePickerPanel::finish(choice);
            },
            Qt::QueuedConnection);
    });
    const QSize size = TonePickerPanel::panelSize(view->fittingSize());
    const QRectF frame = PanelEnvironment::current().anchoredFrame(QSizeF(size), PanelEnvironment::Placement::below);
    auto* panel = new FloatingPanel(FloatingPanel::Kind::keyable, kCardStyle, view);
    panel->setCardFrame(QRectF(frame.topLeft(), QSizeF(size)));
    s.question.showPanel(panel, TonePickerPanel::fadeInMs);
}

} // namespace

QCoro::Task<std::optional<TonePickerChoice>> TonePickerPanel::askUser(QList<TonePreset> presets,
                                                                      bool includeDescribeEdit)
{
    Answer answer;
    present(presets, includeDescribeEdit, answer);
    co_return co_await answer;
}

void TonePickerPanel::finish(std::optional<TonePickerChoice> choice)
{
    State& s = state();
    std::optional<Answer> answer = std::exchange(s.answer, std::nullopt);
    // The picker has no fade-out.
    s.question.endShowing([](FloatingPanel* panel) {
        panel->orderOut();
        panel->deleteLater();
    });
    if (answer)
        answer->answer(std::move(choice));
    s.question.handBackKeyboard();
}

bool TonePickerPanel::isShowing()
{
    return state().question.isShowing();
}

FloatingPanel* TonePickerPanel::panel()
{
    return state().question.panel();
}

QSize TonePickerPanel::panelSize(QSize fitting)
{
    return QSize(std::max(fitting.width(), minWidth), std::clamp(fitting.height(), minHeight, maxHeight));
}

bool TonePickerPanel::handleLocalKey(const QKeyEvent* event)
{
    const std::optional<qint64> key = PanelKeys::virtualKeyOf(event);
    if (!key)
        return false;
    SelectionCoordinator& coordinator = SelectionCoordinator::shared();
    switch (*key) {
    case PanelKeys::returnKey:
    case PanelKeys::keypadEnter:
        if (auto choice = coordinator.choice(coordinator.focusedIndex()))
            finish(std::move(choice));
        return true;
    case PanelKeys::escape:
        finish(std::nullopt);
        return true;
    case PanelKeys::downArrow:
        coordinator.moveFocus(1);
        return true;
    case PanelKeys::upArrow:
        coordinator.moveFocus(-1);
        return true;
    default:
        break;
    }
    const std::optional<int> digit = PanelKeys::digitForKeyCode(quint16(*key));
    if (!digit || *digit > coordinator.rows().size())
        return false;
    finish(coordinator.choice(*digit - 1));
    return true;
}
