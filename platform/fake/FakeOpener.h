#pragma once

#include "platform/Opener.h"

#include <QList>

namespace platform::fake {

class FakeOpener final : public Opener {
public:
    void openUrl(const QUrl& url) override { urls.append(url); }
    void openAccessibilitySettings() override { ++accessibilitySettingsOpened; }

    QList<QUrl> urls;
    int accessibilitySettingsOpened = 0;
};

} // namespace platform::fake
