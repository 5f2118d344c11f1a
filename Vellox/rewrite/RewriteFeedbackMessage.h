#pragma once

#include <QString>

#include <optional>

// The remedy a failure offers. What each one does is up to the surface that
// shows the message.
enum class RewriteFeedbackAction {
    openAccessibilitySettings,
    openSettings,
    retryPermissionCheck,
};

// One user-visible message of the rewrite engine: the value of the last
// error and the content of every transient notice.
struct RewriteFeedbackMessage {
    enum class Level { info, success, warning, error };

    QString text;
    Level level = Level::info;
    std::optional<RewriteFeedbackAction> action;

    friend bool operator==(const RewriteFeedbackMessage&, const RewriteFeedbackMessage&) = default;
};
