#pragma once

#include <QString>

// The one road to the settings window: anything that wants it posts this
// request, and the application answers it wherever it comes from.
namespace OpenSettingsRequest {

inline constexpr char kName[] = "app.vellox.desktop.requestOpenSettings";

// Posts the request on the platform's notification bus, with no user info.
void post();

} // namespace OpenSettingsRequest
