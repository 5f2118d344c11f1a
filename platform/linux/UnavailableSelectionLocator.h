#pragma once

#include "platform/SelectionLocator.h"

namespace platform::linuxbackend {

// For sessions without an accessibility bus: never locates anything, so
// placement falls back to the mouse and the screen centre.
class UnavailableSelectionLocator final : public SelectionLocator {
public:
    std::optional<FocusedElement> focusedElement() override { return std::nullopt; }
};

} // namespace platform::linuxbackend
