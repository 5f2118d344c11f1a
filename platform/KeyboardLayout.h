#pragma once

#include <QString>
#include <QtGlobal>

#include <optional>

namespace platform {

// The user's keyboard layout; a switch of layout shows at the next call after
// the system announced it.
class KeyboardLayout {
public:
    virtual ~KeyboardLayout() = default;

    // The text that the current ASCII-capable layout types for the physical key
    // of a virtual key code (see PhysicalKeys.h) with no modifiers held: one
    // character as a rule, empty for a key that types nothing. None when no
    // layout can be read or the key code names no physical key.
    virtual std::optional<QString> textForKey(qint64 virtualKeyCode) const = 0;
};

} // namespace platform
