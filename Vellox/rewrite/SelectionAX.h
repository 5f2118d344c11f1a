#pragma once

#include <QRectF>

#include <optional>

// Where the user's selection is on screen, read through the accessibility
// service, in Qt's global coordinates. Main thread only.
namespace SelectionAX {

// The selected range's rectangle; the focused element's own frame when
// nothing is selected or the range has no extents; none without trust, a
// front application or a focused element.
std::optional<QRectF> boundsOnScreen();

} // namespace SelectionAX
