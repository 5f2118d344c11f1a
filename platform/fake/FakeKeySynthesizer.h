#pragma once

#include "platform/KeySynthesizer.h"

#include <QList>

#include <functional>

namespace platform::fake {

// Records the chords posted. `onPost` plays the front application's part,
// for example copying its selection to the fake clipboard.
class FakeKeySynthesizer final : public KeySynthesizer {
public:
    Result post(Chord chord) override
    {
        posted.append(chord);
        const Result answer = chord == Chord::copy ? copyResult : pasteResult;
        if (answer == Result::posted && onPost)
            onPost(chord);
        return answer;
    }

    QList<Chord> posted;
    Result copyResult = Result::posted;
    Result pasteResult = Result::posted;
    std::function<void(Chord)> onPost;
};

} // namespace platform::fake
