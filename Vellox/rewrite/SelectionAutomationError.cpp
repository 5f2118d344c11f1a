#include "SelectionAutomationError.h"

QString SelectionAutomationError::errorDescription() const
{
    switch (kind_) {
    case Kind::accessibilityRequired:
        return QStringLiteral("Vellox can't type into other windows in this session, so it can't simulate Ctrl+C / "
                              "Ctrl+V in the active window.");
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
        return QStringLiteral("Vellox types through the X11 XTEST extension. Log in to an X11 session (or one with "
                              "XWayland) where XTEST is enabled, then start Vellox again.");
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
