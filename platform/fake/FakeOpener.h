#pragma once

#include "platform/Opener.h"

#include <QList>

namespace platform::fake {

class FakeOpener final : public Opener {
public:
    bool openUrl(const QUrl& url) override
    {
        urls.append(url);
        return !refuseUrls;
    }
    void openAccessibilitySettings() override { ++accessibilitySettingsOpened; }

    QList<QUrl> urls;
    // Answers as a desktop without xdg-open does.
    bool refuseUrls = false;
    int accessibilitySettingsOpened = 0;
};

} // namespace platform::fake
