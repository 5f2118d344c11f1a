#pragma once

#include "platform/Beeper.h"

namespace platform::fake {

class FakeBeeper final : public Beeper {
public:
    void beep() override { ++beeps_; }
    int beeps() const { return beeps_; }

private:
    int beeps_ = 0;
};

} // namespace platform::fake
