#pragma once

#include <QString>
#include <QVariant>

namespace analytics::bundle {

// The client's own reverse-domain name, used where the application has no
// bundle identifier.
inline constexpr const char* kFallbackIdentifier = "app.vellox.analytics";

// A value of the application's information file; invalid when absent or when
// no information file is installed.
QVariant infoValue(const QString& key);
// The application's bundle identifier, or an empty text.
QString identifier();
// The identifier, else kFallbackIdentifier.
QString identifierOrFallback();

} // namespace analytics::bundle
