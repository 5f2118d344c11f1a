#pragma once

#include <QString>

// Developer switches that need no settings UI: a switch is on when the
// process environment or the key=value file ".vellox-local-debug.env" in the
// working directory sets it to 1, true or yes (any case). Nothing is cached,
// so editing the file takes effect at the next question.
namespace LocalDebugConfig {

// An environment value can turn a switch on but cannot turn off a switch that
// the file turns on.
bool isEnabled(const QString& name);

} // namespace LocalDebugConfig
