#pragma once

#include "platform/Screens.h"

namespace platform::fake {

// One 1440 x 900 screen with a 25-pixel panel at the top, unless a test sets
// its own list.
class FakeScreens final : public Screens {
public:
    QList<Screen> screens() const override { return list; }
    int mainScreenIndex() const override { return list.isEmpty() ? -1 : qMin(mainIndex, int(list.size()) - 1); }
    QPointF mouseLocation() const override { return mouse; }

    QList<Screen> list{{QRectF(0, 0, 1440, 900), QRectF(0, 25, 1440, 875)}};
    int mainIndex = 0;
    QPointF mouse{720, 450};
};

} // namespace platform::fake
