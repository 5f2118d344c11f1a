#include "SelectionAutomationError.h"

QString SelectionAutomationError::errorDescription() const
{
    switch (kind_) {
    case Kind::accessibilityRequired:
        return QStringLiteral("Vellox isn\u2019t trusted for Accessibility, so it can\u2019t simulate \u2318C / \u2318V in "
                              "the frontmost app.");
    case Kind::keyEventCreationFailed:
        return QStringLiteral("Couldn\u2019t create a keyboard event (system rejected synthesis).");
    case Kind::focusChanged:
        return QStringLiteral("Another window has the focus now, so the new text was not pasted.");
    case Kind::clipboardNotOwned:
        return QStringLiteral("Another application took the clipboard before the new text could be pasted.");
    case Kind::noPasteChord:
        return QStringLiteral("This terminal has no paste shortcut Vellox knows, so nothing was typed.");
    case Kind::pasteNotFetched:
        return QStringLiteral("The app did not take the new text from the clipboard in time.");
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
    case Kind::focusChanged:
    case Kind::clipboardNotOwned:
    case Kind::noPasteChord:
    case Kind::pasteNotFetched:
        break;
    }
    return {};
}
