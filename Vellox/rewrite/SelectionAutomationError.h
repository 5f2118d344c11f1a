#pragma once

#include "Vellox/rewrite/LocalizedError.h"

// Why the selection could not be copied or replaced.
class SelectionAutomationError final : public LocalizedError {
public:
    enum class Kind { accessibilityRequired, keyEventCreationFailed };

    explicit SelectionAutomationError(Kind kind)
        : kind_(kind)
    {
    }

    Kind kind() const { return kind_; }
    QString errorDescription() const override;
    QString recoverySuggestion() const;

    friend bool operator==(const SelectionAutomationError& a, const SelectionAutomationError& b) { return a.kind_ == b.kind_; }

private:
    Kind kind_;
};
