#pragma once

#include "platform/AccessibilityTrust.h"

namespace platform::linuxbackend {

// X11 lets any client synthesise input through XTEST, so trust means an X
// display we can reach with that extension. A Wayland-only session is not
// trusted. There is no grant to prompt for.
class X11AccessibilityTrust final : public AccessibilityTrust {
public:
    bool isTrusted() override;
    void prompt() override {}
};

} // namespace platform::linuxbackend
