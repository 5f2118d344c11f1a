#include "FakeKeyboardLayout.h"

#include "platform/linux/XkbLayoutText.h"

namespace platform::fake {

namespace xkb = linuxbackend::xkb;

struct FakeKeyboardLayout::State {
    // Compiled on first use: most tests install the fake without reading it.
    xkb::ContextPtr context;
    xkb::KeymapPtr keymap;
    QString layout;
    QString variant;
    bool compiled = false;
    unsigned group = 0;
    bool unavailable = false;
    int reads = 0;
};

FakeKeyboardLayout::FakeKeyboardLayout(const QString& layout, const QString& variant)
    : state_(std::make_unique<State>())
{
    setLayout(layout, variant);
}

FakeKeyboardLayout::~FakeKeyboardLayout() = default;

std::optional<QString> FakeKeyboardLayout::textForKey(qint64 virtualKeyCode) const
{
    ++state_->reads;
    if (state_->unavailable)
        return std::nullopt;
    if (!state_->compiled) {
        if (!state_->context)
            state_->context = xkb::newContext();
        state_->keymap = xkb::compileKeymap(state_->context.get(), state_->layout, state_->variant);
        state_->compiled = true;
    }
    return xkb::asciiCapableTextForKey(state_->keymap.get(), state_->group, virtualKeyCode);
}

void FakeKeyboardLayout::setLayout(const QString& layout, const QString& variant)
{
    state_->layout = layout;
    state_->variant = variant;
    state_->compiled = false;
    state_->group = 0;
}

void FakeKeyboardLayout::setCurrentGroup(unsigned group)
{
    state_->group = group;
}

void FakeKeyboardLayout::setUnavailable(bool unavailable)
{
    state_->unavailable = unavailable;
}

int FakeKeyboardLayout::reads() const
{
    return state_->reads;
}

} // namespace platform::fake
