#pragma once

#include <QString>

// The panels' own words, in one place.
namespace PanelTexts {

inline QString describeEdit() { return QStringLiteral("Describe the edit"); }
inline QString pickerTitleWithDescribeEdit() { return QStringLiteral("Vellox"); }
inline QString pickerTitle() { return QStringLiteral("Pick a tone"); }
inline QString navigationHint() { return QStringLiteral("↑↓ Return"); }
inline QString escapeHint() { return QStringLiteral("esc"); }
inline QString instructionQuestion() { return QStringLiteral("What should change?"); }
inline QString openAccessibilitySettings() { return QStringLiteral("Open Settings"); }
inline QString openSettings() { return QStringLiteral("Settings"); }
inline QString retryPermissionCheck() { return QStringLiteral("Retry"); }

} // namespace PanelTexts
