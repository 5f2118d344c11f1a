#pragma once

#include "Vellox/rewrite/RewriteFeedbackMessage.h"

#include <QObject>

#include <optional>

// The last failure the user should see, for the menu bar. Both rewrite roads
// set it on failure and clear it on success; the popover clears it when the
// user dismisses the banner. Main thread only; every assignment is announced.
class RewriteFeedbackState final : public QObject {
    Q_OBJECT

public:
    static RewriteFeedbackState& shared();

    const std::optional<RewriteFeedbackMessage>& lastError() const { return lastError_; }
    void setLastError(std::optional<RewriteFeedbackMessage> message);

signals:
    void lastErrorChanged();

private:
    RewriteFeedbackState() = default;

    std::optional<RewriteFeedbackMessage> lastError_;
};
