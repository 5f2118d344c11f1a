#pragma once

#include "platform/Alerts.h"

#include <QList>
#include <QPointer>

#include <functional>

namespace platform::fake {

// Records every question and answers from a queue the test fills; with the
// queue empty it answers the first button.
class FakeAlerts final : public Alerts {
public:
    struct Asked {
        Question question;
        QPointer<QWidget> window;
    };

    int ask(const Question& question, QWidget* window) override
    {
        asked_.append({question, window});
        if (onAsk_)
            onAsk_(question);
        return answers_.isEmpty() ? 0 : answers_.takeFirst();
    }

    void answerNext(int buttonIndex) { answers_.append(buttonIndex); }
    // Runs while the alert is "on screen", before the answer is returned.
    void onAsk(std::function<void(const Question&)> callback) { onAsk_ = std::move(callback); }
    const QList<Asked>& asked() const { return asked_; }

private:
    QList<Asked> asked_;
    QList<int> answers_;
    std::function<void(const Question&)> onAsk_;
};

} // namespace platform::fake
