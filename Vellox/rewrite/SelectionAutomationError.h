#pragma once

#include "Vellox/rewrite/LocalizedError.h"

// Why the selection could not be copied or replaced.
class SelectionAutomationError final : public LocalizedError {
public:
    // The kinds after the first two say why a paste did not happen or may
    // not have happened.
    enum class Kind {
        accessibilityRequired,
        keyEventCreationFailed,
        focusChanged,
        clipboardNotOwned,
        noPasteChord,
        pasteNotFetched,
    };

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
