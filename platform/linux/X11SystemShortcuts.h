#pragma once

#include "platform/SystemShortcuts.h"

#include <memory>

namespace platform::linuxbackend {

class X11HotKeyBackend;

// X11 keeps no list of reserved shortcuts, so each candidate is probed: a
// grab of it from a connection of our own is refused with BadAccess exactly
// when another client holds it. Our own hot keys are not reserved by someone
// else and never count. Without an X11 display nothing is reserved.
class X11SystemShortcuts final : public SystemShortcuts {
public:
    explicit X11SystemShortcuts(std::weak_ptr<X11HotKeyBackend> ownHotKeys = {});
    ~X11SystemShortcuts() override;

    QList<Combination> reserved(const QList<Combination>& candidates) override;

private:
    struct State;
    std::unique_ptr<State> d;
};

} // namespace platform::linuxbackend
