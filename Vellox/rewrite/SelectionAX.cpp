#include "SelectionAX.h"

#include "platform/AccessibilityTrust.h"
#include "platform/Platform.h"
#include "platform/SelectionLocator.h"
#include "platform/Workspace.h"

namespace SelectionAX {

std::optional<QRectF> boundsOnScreen()
{
    const platform::Platform& services = platform::Platform::current();
    if (!services.accessibilityTrust || !services.accessibilityTrust->isTrusted())
        return std::nullopt;
    if (!services.workspace || !services.workspace->frontmostApplication())
        return std::nullopt;
    if (!services.selectionLocator)
        return std::nullopt;
    const auto focused = services.selectionLocator->focusedElement();
    if (!focused)
        return std::nullopt;
    if (focused->selectionBounds && focused->selectionBounds->isValid())
        return focused->selectionBounds;
    return focused->elementBounds;
}

} // namespace SelectionAX
