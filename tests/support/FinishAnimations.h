#pragma once

#include <QAbstractAnimation>
#include <QObject>

namespace test_support {

// Runs the running animations owned by `owner` to their end at once, so a
// test reads where they stop without waiting for the wall clock, which a
// loaded machine stretches.
inline void finishAnimations(QObject& owner)
{
    for (QAbstractAnimation* animation : owner.findChildren<QAbstractAnimation*>()) {
        if (animation->state() == QAbstractAnimation::Running && animation->totalDuration() >= 0)
            animation->setCurrentTime(animation->totalDuration());
    }
}

} // namespace test_support
