#pragma once

#include "gemini-client/FunctionCalling.h"
#include "gemini-client/JSONCoding.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace gemini {

// Sampling settings attached to a model. Every value travels as given; the
// library neither checks nor clamps them.
struct GenerationConfig {
    std::optional<float> temperature = std::nullopt;
    std::optional<float> topP = std::nullopt;
    std::optional<qint64> topK = std::nullopt;
    std::optional<qint64> candidateCount = std::nullopt;
    std::optional<qint64> maxOutputTokens = std::nullopt;
    std::optional<QStringList> stopSequences = std::nullopt;
    std::optional<QString> responseMIMEType = std::nullopt;
    std::optional<Schema> responseSchema = std::nullopt;
};

coding::OrderedJson encodeValue(coding::Encoder& encoder, const GenerationConfig& config);

} // namespace gemini
