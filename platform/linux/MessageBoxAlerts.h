#pragma once

#include "platform/Alerts.h"

namespace platform::linuxbackend {

// A warning QMessageBox: modal for the given window, or for the application
// without one. Escape answers the first button.
class MessageBoxAlerts final : public Alerts {
public:
    int ask(const Question& question, QWidget* window) override;
};

} // namespace platform::linuxbackend
