#pragma once

#include "platform/Beeper.h"

#include <QApplication>

namespace platform::linuxbackend {

// The desktop's bell (XBell on X11).
class QtBeeper final : public Beeper {
public:
    void beep() override { QApplication::beep(); }
};

} // namespace platform::linuxbackend
