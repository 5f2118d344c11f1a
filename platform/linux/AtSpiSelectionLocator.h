#pragma once

#include "platform/SelectionLocator.h"

#include <QDBusConnection>
#include <QString>

#include <memory>
#include <optional>

namespace platform {
class Workspace;
}

namespace platform::linuxbackend {

// Reads the focused text element of the front application over the
// accessibility bus (AT-SPI): the selection's extents where the application
// answers, else the element's frame. Without the bus it answers
// "unavailable". AT-SPI reports physical pixels; answers are divided by the
// device pixel ratio into Qt's logical coordinates.
class AtSpiSelectionLocator final : public SelectionLocator {
public:
    explicit AtSpiSelectionLocator(std::shared_ptr<Workspace> workspace);
    ~AtSpiSelectionLocator() override;

    std::optional<FocusedElement> focusedElement() override;

private:
    struct Node {
        QString service;
        QString path;
    };

    std::optional<QDBusConnection> accessibilityBus();
    std::optional<Node> focusedNode(qint64 pid);

    std::shared_ptr<Workspace> workspace_;
    QString connectionName_;
    bool connected_ = false;
};

} // namespace platform::linuxbackend
