#include "RewriteFeedbackState.h"

RewriteFeedbackState& RewriteFeedbackState::shared()
{
    static auto* instance = new RewriteFeedbackState; // lives until exit
    return *instance;
}

void RewriteFeedbackState::setLastError(std::optional<RewriteFeedbackMessage> message)
{
    lastError_ = std::move(message);
    emit lastErrorChanged();
}
