#pragma once

#include <QList>
#include <QPointF>
#include <QRectF>

namespace platform {

// The screens in Qt's global coordinates (logical pixels, origin at the top
// left of the virtual desktop). Main thread only.
class Screens {
public:
    struct Screen {
        QRectF frame;
        // Without panels and docks.
        QRectF visibleFrame;
        friend bool operator==(const Screen&, const Screen&) = default;
    };

    virtual ~Screens() = default;

    // In the system's order; the first is not necessarily the main one.
    virtual QList<Screen> screens() const = 0;
    // Index into screens() of the main screen, or -1 when there is none.
    virtual int mainScreenIndex() const = 0;
    virtual QPointF mouseLocation() const = 0;
};

} // namespace platform
