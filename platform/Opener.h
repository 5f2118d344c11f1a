#pragma once

#include <QUrl>

namespace platform {

// Hands URLs and settings panes to the desktop. Main thread only; neither
// call waits for the target to open.
class Opener {
public:
    virtual ~Opener() = default;

    // False when the desktop has nothing to open it with (no xdg-open, for
    // example), so the caller can tell the user where to go instead.
    virtual bool openUrl(const QUrl& url) = 0;
    // The desktop's accessibility settings, where the desktop has them.
    virtual void openAccessibilitySettings() = 0;
};

} // namespace platform
