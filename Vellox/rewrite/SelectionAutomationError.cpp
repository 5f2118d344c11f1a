#include "SelectionAutomationError.h"

QString SelectionAutomationError::errorDescription() const
{
    switch (kind_) {
    case Kind::accessibilityRequired:
        return QStringLiteral("Vellox isn\u2019t trusted for Accessibility, so it can\u2019t simulate \u2318C / \u2318V in "
                              "the frontmost app.");
    case Kind::keyEventCreationFailed:
        return QStringLiteral("Couldn\u2019t create a keyboard event (system rejected synthesis).");
    }
    return {};
}

QString SelectionAutomationError::recoverySuggestion() const
{
    switch (kind_) {
    case Kind::accessibilityRequired:
        return QStringLiteral(
            "Open System Settings \u2192 Privacy & Security \u2192 Accessibility.\n\nAdd or enable the exact Vellox you "
            "are running: if you use Run in Xcode, add Vellox from DerivedData (e.g. "
            "~/Library/Developer/Xcode/DerivedData/\u2026/Build/Products/Debug/Vellox.app), not only a copy from "
            "elsewhere. Remove stale duplicate entries.\n\nToggle Vellox off, quit Vellox fully from the menu bar, "
            "toggle on, launch again.");
    case Kind::keyEventCreationFailed:
        return QStringLiteral("Quit other apps that capture global keyboard input, then try again.");
    }
    return {};
}
