#pragma once

#include "platform/SelectionLocator.h"

#include <QList>

namespace platform::fake {

// Answers from a script, one entry per lookup, then with `fallback`.
class FakeSelectionLocator final : public SelectionLocator {
public:
    std::optional<FocusedElement> focusedElement() override
    {
        ++lookups;
        if (!script.isEmpty())
            return script.takeFirst();
        return fallback;
    }

    QList<std::optional<FocusedElement>> script;
    std::optional<FocusedElement> fallback;
    int lookups = 0;
};

} // namespace platform::fake
