#pragma once

// How the shell's own widgets show to assistive technologies where Qt's
// defaults fall short: painted status rows expose their text, and the
// settings and onboarding windows are frames, not fillers. Widgets of those
// kinds call install() when made; it registers once. Main thread only.
namespace ShellAccessibility {

void install();

} // namespace ShellAccessibility
