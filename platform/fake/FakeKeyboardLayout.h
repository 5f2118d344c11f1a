#pragma once

#include "platform/KeyboardLayout.h"

#include <memory>

namespace platform::fake {

// A keyboard layout compiled with xkbcommon from rule names ("us", "de",
// "fr", or several groups such as "ru,us"), so tests see what a real desktop
// with that layout would give.
class FakeKeyboardLayout final : public KeyboardLayout {
public:
    explicit FakeKeyboardLayout(const QString& layout = QStringLiteral("us"), const QString& variant = {});
    ~FakeKeyboardLayout() override;

    std::optional<QString> textForKey(qint64 virtualKeyCode) const override;

    void setLayout(const QString& layout, const QString& variant = {});
    // The active group of a layout with several.
    void setCurrentGroup(unsigned group);
    // No layout can be read at all.
    void setUnavailable(bool unavailable);
    int reads() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace platform::fake
