#pragma once

namespace platform {

// The system's alert sound, for input that is refused.
class Beeper {
public:
    virtual ~Beeper() = default;
    virtual void beep() = 0;
};

} // namespace platform
