#pragma once

#include "platform/KeySynthesizer.h"

namespace platform::linuxbackend {

// Copy and paste through XTEST: Control-C/V, or Control-Shift-C/V in a
// terminal window that binds them (recognised by WM_CLASS); nothing in a
// terminal that does not. Modifiers the user holds are
// released for the chord and pressed again afterwards, so the chord carries
// exactly its own modifiers.
class XTestKeySynthesizer final : public KeySynthesizer {
public:
    Result post(Chord chord) override;
};

} // namespace platform::linuxbackend
