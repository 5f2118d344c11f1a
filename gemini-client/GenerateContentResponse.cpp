#include "GenerateContentResponse.h"

#include "gemini-client/ErrorTexts.h"
#include "gemini-client/Logging.h"

namespace gemini {

using coding::EnumCase;
using BlockReason = PromptFeedback::BlockReason;

namespace {

constexpr EnumCase<FinishReason> kFinishReasons[] = {
    {FinishReason::unknown, "FINISH_REASON_UNKNOWN", "unknown"},
    {FinishReason::unspecified, "FINISH_REASON_UNSPECIFIED", "unspecified"},
    {FinishReason::stop, "STOP", "stop"},
    {FinishReason::maxTokens, "MAX_TOKENS", "maxTokens"},
    {FinishReason::safety, "SAFETY", "safety"},
    {FinishReason::recitation, "RECITATION", "recitation"},
    {FinishReason::other, "OTHER", "other"},
};

constexpr EnumCase<BlockReason> kBlockReasons[] = {
    {BlockReason::unknown, "UNKNOWN", "unknown"},
    {BlockReason::unspecified, "BLOCK_REASON_UNSPECIFIED", "unspecified"},
    {BlockReason::safety, "SAFETY", "safety"},
    {BlockReason::other, "OTHER", "other"},
};

const QString kFence = QStringLiteral("```");

} // namespace

QString rawValue(FinishReason reason)
{
    return coding::rawValueIn<FinishReason>(kFinishReasons, reason);
}

QString caseName(FinishReason reason)
{
    return coding::caseNameIn<FinishReason>(kFinishReasons, reason);
}

template <>
std::optional<FinishReason> fromRawValue<FinishReason>(QStringView text)
{
    return coding::fromRawValueIn<FinishReason>(kFinishReasons, text);
}

QString rawValue(BlockReason reason)
{
    return coding::rawValueIn<BlockReason>(kBlockReasons, reason);
}

QString caseName(BlockReason reason)
{
    return coding::caseNameIn<BlockReason>(kBlockReasons, reason);
}

template <>
std::optional<BlockReason> fromRawValue<BlockReason>(QStringView text)
{
    return coding::fromRawValueIn<BlockReason>(kBlockReasons, text);
}

std::optional<QString> GenerateContentResponse::text() const
{
    if (candidates.isEmpty()) {
        Logging::defaultLogger().error(QStringLiteral("Could not get text from a response that had no candidates."));
        return std::nullopt;
    }
    QStringList pieces;
    for (const ContentPart& part : candidates.first().content.parts()) {
        if (const QString* text = part.get<QString>()) {
            pieces.append(*text);
        } else if (const ExecutableCode* code = part.get<ExecutableCode>()) {
            const QString language = code->language() == QLatin1String("LANGUAGE_UNSPECIFIED")
                ? QString()
                : code->language().toLower();
            pieces.append(kFence + language + u'\n' + code->code() + u'\n' + kFence);
        } else if (const CodeExecutionResult* result = part.get<CodeExecutionResult>()) {
            if (!result->output().isEmpty())
                pieces.append(kFence + u'\n' + result->output() + u'\n' + kFence);
        }
    }
    if (pieces.isEmpty()) {
        Logging::defaultLogger().error(QStringLiteral("Could not get a text part from the first candidate."));
        return std::nullopt;
    }
    return pieces.join(u'\n');
}

QList<FunctionCall> GenerateContentResponse::functionCalls() const
{
    QList<FunctionCall> calls;
    if (candidates.isEmpty())
        return calls;
    for (const ContentPart& part : candidates.first().content.parts()) {
        if (const FunctionCall* call = part.get<FunctionCall>())
            calls.append(*call);
    }
    return calls;
}

FinishReason decodeValue(const coding::Decoder& decoder, coding::Tag<FinishReason>)
{
    return coding::decodeServerEnum<FinishReason>(decoder, kFinishReasons, FinishReason::unknown, "FinishReason");
}

BlockReason decodeValue(const coding::Decoder& decoder, coding::Tag<BlockReason>)
{
    return coding::decodeServerEnum<BlockReason>(decoder, kBlockReasons, BlockReason::unknown, "BlockReason");
}

PromptFeedback decodeValue(const coding::Decoder& decoder, coding::Tag<PromptFeedback>)
{
    PromptFeedback feedback;
    feedback.blockReason = decoder.decodeIfPresent<BlockReason>("blockReason");
    feedback.safetyRatings = decoder.decodeIfPresent<QList<SafetyRating>>("safetyRatings").value_or(QList<SafetyRating>());
    return feedback;
}

Citation decodeValue(const coding::Decoder& decoder, coding::Tag<Citation>)
{
    Citation citation;
    citation.startIndex = decoder.decodeIfPresent<qint64>("startIndex").value_or(0);
    citation.endIndex = decoder.decode<qint64>("endIndex");
    citation.uri = decoder.decode<QString>("uri");
    citation.license = decoder.decodeIfPresent<QString>("license");
    if (citation.license && citation.license->isEmpty())
        citation.license.reset();
    return citation;
}

CitationMetadata decodeValue(const coding::Decoder& decoder, coding::Tag<CitationMetadata>)
{
    return CitationMetadata{decoder.decode<QList<Citation>>("citationSources")};
}

CandidateResponse decodeValue(const coding::Decoder& decoder, coding::Tag<CandidateResponse>)
{
    CandidateResponse candidate;
    if (decoder.containsValue("content")) {
        const coding::Decoder content = decoder.child("content");
        try {
            candidate.content = content.decode<ModelContent>();
        } catch (const DecodingError& error) {
            // Tell an empty content object from a malformed one; the service
            // sends {} when a candidate was cut off before any part.
            std::optional<bool> empty;
            try {
                empty = content.decode<QMap<QString, QString>>().isEmpty();
            } catch (const DecodingError&) {
            }
            throw InvalidCandidateError(empty.value_or(false) ? InvalidCandidateError::Kind::emptyContent
                                                              : InvalidCandidateError::Kind::malformedContent,
                                        error);
        }
    }
    candidate.safetyRatings = decoder.decodeIfPresent<QList<SafetyRating>>("safetyRatings").value_or(QList<SafetyRating>());
    candidate.finishReason = decoder.decodeIfPresent<FinishReason>("finishReason");
    candidate.citationMetadata = decoder.decodeIfPresent<CitationMetadata>("citationMetadata");
    return candidate;
}

GenerateContentResponse::UsageMetadata decodeValue(const coding::Decoder& decoder,
                                                   coding::Tag<GenerateContentResponse::UsageMetadata>)
{
    GenerateContentResponse::UsageMetadata usage;
    usage.promptTokenCount = decoder.decodeIfPresent<qint64>("promptTokenCount").value_or(0);
    usage.candidatesTokenCount = decoder.decodeIfPresent<qint64>("candidatesTokenCount").value_or(0);
    usage.totalTokenCount = decoder.decodeIfPresent<qint64>("totalTokenCount").value_or(0);
    return usage;
}

GenerateContentResponse decodeValue(const coding::Decoder& decoder, coding::Tag<GenerateContentResponse>)
{
    decoder.expectObject();
    if (!decoder.contains("candidates") && !decoder.contains("promptFeedback"))
        throw DecodingError(DecodingError::Kind::dataCorrupted, CodingPath(), QString::fromUtf8(texts::missingResponseKeys));
    GenerateContentResponse response;
    response.candidates =
        decoder.decodeIfPresent<QList<CandidateResponse>>("candidates").value_or(QList<CandidateResponse>());
    response.promptFeedback = decoder.decodeIfPresent<PromptFeedback>("promptFeedback");
    response.usageMetadata = decoder.decodeIfPresent<GenerateContentResponse::UsageMetadata>("usageMetadata");
    return response;
}

} // namespace gemini
