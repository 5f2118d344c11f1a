#pragma once

#include "platform/SystemShortcuts.h"

namespace platform::fake {

// Answers from a list the test sets.
class FakeSystemShortcuts final : public SystemShortcuts {
public:
    QList<Combination> reserved(const QList<Combination>& candidates) override
    {
        ++calls_;
        QList<Combination> out;
        for (const Combination& candidate : candidates) {
            if (reserved_.contains(candidate))
                out.append(candidate);
        }
        return out;
    }

    void setReserved(QList<Combination> reserved) { reserved_ = std::move(reserved); }
    int calls() const { return calls_; }

private:
    QList<Combination> reserved_;
    int calls_ = 0;
};

} // namespace platform::fake
