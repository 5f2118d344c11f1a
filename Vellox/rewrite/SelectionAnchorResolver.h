#pragma once

#include <QRectF>
#include <QSizeF>

#include <optional>

// Frames for the floating panels next to the user's selection, in Qt's
// global coordinates (origin top left, y growing downwards). When the
// selection cannot be found it falls back to one seen in the last 2 s, then
// to the mouse pointer, then to the centre of the active screen; the frame is
// always kept inside a screen's visible area. Main thread only.
namespace SelectionAnchorResolver {

enum class Placement { beside, below };
enum class AnchorSource { selection, mouse, center };

struct AnchorResult {
    QRectF rect;
    AnchorSource source = AnchorSource::center;
};

// Up to three lookups with 40 ms of event processing between them when the
// selection does not answer at once.
AnchorResult resolve(QSizeF size, Placement placement);

// The frame for a panel of `size` placed at the selection rectangle `selection`,
// before clamping.
QRectF place(const QRectF& selection, QSizeF size, Placement placement);

// Forgets the cached selection. Tests only.
void resetCacheForTesting();

} // namespace SelectionAnchorResolver
