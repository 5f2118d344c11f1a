#pragma once

#include "gemini-client/FunctionCalling.h"
#include "gemini-client/GenerateContentResponse.h"
#include "gemini-client/GenerationConfig.h"
#include "gemini-client/JSONCoding.h"
#include "gemini-client/ModelContent.h"
#include "gemini-client/RequestOptions.h"
#include "gemini-client/Safety.h"

#include <QList>
#include <QString>

#include <optional>

namespace gemini {

// A one-shot or streamed generation request. The body holds "model" and
// "contents" always and every optional field only when present; isStreaming
// and options choose the endpoint and the timeout and are never written.
struct GenerateContentRequest {
    using Response = GenerateContentResponse;

    QString model; // the model's resource name, "models/..."
    QList<ModelContent> contents;
    std::optional<GenerationConfig> generationConfig;
    std::optional<QList<SafetySetting>> safetySettings;
    std::optional<QList<Tool>> tools;
    std::optional<ToolConfig> toolConfig;
    std::optional<ModelContent> systemInstruction;
    bool isStreaming = false;
    RequestOptions options;

    // The endpoint text, before it is parsed as a URL: base URL, "/", API
    // version, "/", model, and the method. Nothing is escaped.
    QString url() const;
};

coding::OrderedJson encodeValue(coding::Encoder& encoder, const GenerateContentRequest& request);

// The base URL with exactly one "/" after it.
QString endpointPrefix(const RequestOptions& options);

} // namespace gemini
