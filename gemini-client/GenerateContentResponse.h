#pragma once

#include "gemini-client/EnumCoding.h"
#include "gemini-client/JSONCoding.h"
#include "gemini-client/ModelContent.h"
#include "gemini-client/Safety.h"

#include <QList>
#include <QString>

#include <optional>

// What a generation call answers: candidates, prompt feedback and usage.
namespace gemini {

enum class FinishReason { unknown, unspecified, stop, maxTokens, safety, recitation, other };
QString rawValue(FinishReason reason);
QString caseName(FinishReason reason);
template <>
std::optional<FinishReason> fromRawValue<FinishReason>(QStringView text);

struct PromptFeedback {
    enum class BlockReason { unknown, unspecified, safety, other };

    std::optional<BlockReason> blockReason = std::nullopt;
    QList<SafetyRating> safetyRatings = {};
};
QString rawValue(PromptFeedback::BlockReason reason);
// The case's own name ("safety"), as the application shows it.
QString caseName(PromptFeedback::BlockReason reason);
template <>
std::optional<PromptFeedback::BlockReason> fromRawValue<PromptFeedback::BlockReason>(QStringView text);

struct Citation {
    qint64 startIndex = 0;
    qint64 endIndex = 0;
    QString uri = {};
    std::optional<QString> license = std::nullopt; // an empty license reads as none
};

struct CitationMetadata {
    QList<Citation> citationSources = {};
};

struct CandidateResponse {
    ModelContent content{QStringLiteral("user"), QList<ContentPart>()};
    QList<SafetyRating> safetyRatings = {};
    std::optional<FinishReason> finishReason = std::nullopt;
    std::optional<CitationMetadata> citationMetadata = std::nullopt;
};

struct GenerateContentResponse {
    struct UsageMetadata {
        qint64 promptTokenCount = 0;
        qint64 candidatesTokenCount = 0;
        qint64 totalTokenCount = 0;
    };

    QList<CandidateResponse> candidates = {};
    std::optional<PromptFeedback> promptFeedback = std::nullopt;
    std::optional<UsageMetadata> usageMetadata = std::nullopt;

    // The first candidate's text parts (and its code and code results as
    // fenced blocks) joined by line feeds; none, after an error line, when
    // there is no candidate or nothing to show.
    std::optional<QString> text() const;
    // The function calls among the first candidate's parts, in order.
    QList<FunctionCall> functionCalls() const;
};

FinishReason decodeValue(const coding::Decoder& decoder, coding::Tag<FinishReason>);
PromptFeedback::BlockReason decodeValue(const coding::Decoder& decoder, coding::Tag<PromptFeedback::BlockReason>);
PromptFeedback decodeValue(const coding::Decoder& decoder, coding::Tag<PromptFeedback>);
Citation decodeValue(const coding::Decoder& decoder, coding::Tag<Citation>);
CitationMetadata decodeValue(const coding::Decoder& decoder, coding::Tag<CitationMetadata>);
CandidateResponse decodeValue(const coding::Decoder& decoder, coding::Tag<CandidateResponse>);
GenerateContentResponse::UsageMetadata decodeValue(const coding::Decoder& decoder,
                                                   coding::Tag<GenerateContentResponse::UsageMetadata>);
GenerateContentResponse decodeValue(const coding::Decoder& decoder, coding::Tag<GenerateContentResponse>);

} // namespace gemini
