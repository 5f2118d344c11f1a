#pragma once

#include "platform/Screens.h"

namespace platform::linuxbackend {

class QtScreens final : public Screens {
public:
    QList<Screen> screens() const override;
    int mainScreenIndex() const override;
    QPointF mouseLocation() const override;
};

} // namespace platform::linuxbackend
