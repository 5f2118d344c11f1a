#pragma once

#include "platform/AccessibilityTrust.h"

#include <atomic>

namespace platform::fake {

class FakeAccessibilityTrust final : public AccessibilityTrust {
public:
    bool isTrusted() override
    {
        ++queries;
        return trusted.load();
    }
    void prompt() override { ++prompts; }

    std::atomic<bool> trusted{true};
    std::atomic<int> queries{0};
    std::atomic<int> prompts{0};
};

} // namespace platform::fake
