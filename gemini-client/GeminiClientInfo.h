#pragma once

#include <QString>

namespace gemini {

// Fixed facts about the library: its version, the identifier of its error
// domain and log subsystem, and the token it names itself with to the service.
struct GeminiClientInfo {
    static constexpr const char* version = "0.5.6";
    // Reverse-DNS identifier: the error domain of the library's own failures
    // and the subsystem of its log lines.
    static constexpr const char* identifier = "app.vellox.gemini-client";
    static constexpr const char* identificationToken = "vellox-gapi";
    static constexpr const char* debugLaunchArgument = "-GeminiClientDebugLogEnabled";

    // The "x-goog-api-client" value: token, slash, version.
    static QString clientIdentification()
    {
        return QString::fromLatin1(identificationToken) + u'/' + QString::fromLatin1(version);
    }
};

} // namespace gemini
