#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>

#include <optional>

namespace platform {

// Modal warnings that ask the user to choose a button.
class Alerts {
public:
    struct Question {
        QString title;
        std::optional<QString> informativeText;
        // In order; the first is the default. Empty: one standard OK button.
        QStringList buttons;
    };

    // The answer when the alert was closed without a button.
    static constexpr int dismissed = -1;

    virtual ~Alerts() = default;

    // Shows the warning modal for the window (or for the whole application
    // without one) and answers the index of the chosen button once it closes.
    virtual int ask(const Question& question, QWidget* window) = 0;
};

} // namespace platform
