#pragma once

#include <QUrl>

namespace platform {

// Hands URLs and settings panes to the desktop. Main thread only; neither
// call waits for the target to open.
class Opener {
public:
    virtual ~Opener() = default;

    virtual void openUrl(const QUrl& url) = 0;
    // The desktop's accessibility settings, where the desktop has them.
    virtual void openAccessibilitySettings() = 0;
};

} // namespace platform
