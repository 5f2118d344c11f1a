#pragma once

#include <QString>
#include <QUrl>

// Where the remote services live. Each defaults to the public host and can be
// pointed elsewhere (a proxy, a test server) through the environment.
namespace ProviderEndpoints {

// $VELLOX_OPENAI_BASE_URL, else the public API root.
QUrl openAIDefaultBase();
// The public API root with its "/v1" path.
QUrl openAIPublicBase();
// $VELLOX_ANTHROPIC_BASE_URL, else the public host.
QUrl anthropicBase();
// $VELLOX_GEMINI_BASE_URL, else the public host.
QString geminiBase();

// `base` with one more path component, and one "/" between them.
QUrl appendingPath(const QUrl& base, const QString& component);

} // namespace ProviderEndpoints
