#pragma once

#include "platform/Workspace.h"

#include <QList>

namespace platform::fake {

class FakeWorkspace final : public Workspace {
public:
    std::optional<FrontApplication> frontmostApplication() const override { return front; }
    bool activate(const FrontApplication& application) override
    {
        activations.append(application);
        front = application;
        return true;
    }

    std::optional<FrontApplication> front = FrontApplication{0x400001, 4242, QStringLiteral("Editor"),
                                                             QStringLiteral("editor")};
    QList<FrontApplication> activations;
};

} // namespace platform::fake
