#pragma once

// For tests: puts the component's process-wide state back to how it starts
// (no actions, no hot keys, enabled, not paused, no main menu), so each test
// begins clean on the platform it installs. Hot-key ids keep counting.
namespace GlobalShortcuts::testing {

void resetState();

} // namespace GlobalShortcuts::testing
