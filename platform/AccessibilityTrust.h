#pragma once

namespace platform {

// Whether this process may drive other applications with synthesised input.
// isTrusted() may block briefly and may be called from any thread.
class AccessibilityTrust {
public:
    virtual ~AccessibilityTrust() = default;

    virtual bool isTrusted() = 0;
    // Asks the system to offer the user the grant, where it has such a prompt.
    virtual void prompt() = 0;
};

} // namespace platform
