#pragma once

#include "platform/Opener.h"

namespace platform::linuxbackend {

class QtOpener final : public Opener {
public:
    bool openUrl(const QUrl& url) override;
    // Starts the first accessibility settings tool found on the PATH; does
    // nothing on a desktop without one.
    void openAccessibilitySettings() override;
};

} // namespace platform::linuxbackend
