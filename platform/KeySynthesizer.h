#pragma once

namespace platform {

// Types the copy and paste chords into the focused window of another
// application. Main thread only.
class KeySynthesizer {
public:
    enum class Chord { copy, paste };
    // `noKnownChord`: the focused window is a terminal whose copy and paste
    // keys we do not know; nothing was typed, since a guess could reach the
    // program running there as a control character.
    enum class Result { posted, unavailable, eventCreationFailed, noKnownChord };

    virtual ~KeySynthesizer() = default;

    // Presses and releases the chord once. Modifiers the user holds take no
    // part in it and are back as they were afterwards.
    virtual Result post(Chord chord) = 0;
};

} // namespace platform
