#pragma once

#include <QRectF>

#include <optional>

namespace platform {

// Where the focused text element and its selection are on screen, read
// through the desktop's accessibility service. Rectangles are in Qt's global
// logical coordinates. Main thread only; a lookup may take as long as the
// answering application takes.
class SelectionLocator {
public:
    struct FocusedElement {
        // The selected range's extents; none when nothing is selected (a bare
        // caret) or the application does not answer for the range.
        std::optional<QRectF> selectionBounds;
        // The element's own frame; none when it does not answer.
        std::optional<QRectF> elementBounds;
    };

    virtual ~SelectionLocator() = default;

    // None when no element has the focus or the service is unavailable.
    virtual std::optional<FocusedElement> focusedElement() = 0;
};

} // namespace platform
