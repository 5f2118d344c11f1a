#pragma once

#include "platform/Logger.h"

#include <QString>

// The application's loggers in the system log. They share one subsystem and
// differ by category, so the journal can be filtered per area.
namespace VelloxLog {

inline constexpr char kSubsystem[] = "app.vellox.desktop";

const platform::Logger& rewrite();
const platform::Logger& ui();
const platform::Logger& startup();
const platform::Logger& permissions();

} // namespace VelloxLog
