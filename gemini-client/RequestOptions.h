#pragma once

#include <QString>

namespace gemini {

// How a request is sent. `timeout` bounds how long the request may stay idle
// waiting for data, not the length of the whole exchange. The base URL lets
// the application point the library elsewhere (a proxy, or a test server).
struct RequestOptions {
    static QString defaultBaseURL() { return QStringLiteral("https://generativelanguage.googleapis.com"); }

    RequestOptions(double timeout, QString apiVersion, QString baseURL = defaultBaseURL())
        : timeout(timeout)
        , apiVersion(std::move(apiVersion))
        , baseURL(std::move(baseURL))
    {
    }

    double timeout; // seconds
    QString apiVersion; // a path segment, for example "v1beta"
    QString baseURL; // scheme and host, optionally a path prefix
};

} // namespace gemini
