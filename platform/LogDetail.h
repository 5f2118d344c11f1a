#pragma once

#include <QString>

namespace platform {

// Longest detail a log keeps, in user-perceived characters.
inline constexpr int kLogDetailMaxGraphemes = 600;

// A text as a log keeps it: every run of white space, line breaks included,
// becomes one space, so it stays on its line, and a text longer than
// kLogDetailMaxGraphemes is cut there and ends in an ellipsis. Provider error
// bodies run to megabytes and may quote the user's text; no log takes them
// whole.
QString boundedLogDetail(const QString& text);

} // namespace platform
