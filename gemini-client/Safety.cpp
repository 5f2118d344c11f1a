#include "Safety.h"

#include <QHash>

namespace gemini {

using coding::EnumCase;
using coding::OrderedJson;
using Category = SafetySetting::HarmCategory;
using Threshold = SafetySetting::BlockThreshold;
using Probability = SafetyRating::HarmProbability;

namespace {

constexpr EnumCase<Category> kCategories[] = {
    {Category::unknown, "HARM_CATEGORY_UNKNOWN", "unknown"},
    {Category::unspecified, "HARM_CATEGORY_UNSPECIFIED", "unspecified"},
    {Category::harassment, "HARM_CATEGORY_HARASSMENT", "harassment"},
    {Category::hateSpeech, "HARM_CATEGORY_HATE_SPEECH", "hateSpeech"},
    {Category::sexuallyExplicit, "HARM_CATEGORY_SEXUALLY_EXPLICIT", "sexuallyExplicit"},
    {Category::dangerousContent, "HARM_CATEGORY_DANGEROUS_CONTENT", "dangerousContent"},
};

constexpr EnumCase<Threshold> kThresholds[] = {
    {Threshold::unknown, "UNKNOWN", "unknown"},
    {Threshold::unspecified, "HARM_BLOCK_THRESHOLD_UNSPECIFIED", "unspecified"},
    {Threshold::blockLowAndAbove, "BLOCK_LOW_AND_ABOVE", "blockLowAndAbove"},
    {Threshold::blockMediumAndAbove, "BLOCK_MEDIUM_AND_ABOVE", "blockMediumAndAbove"},
    {Threshold::blockOnlyHigh, "BLOCK_ONLY_HIGH", "blockOnlyHigh"},
    {Threshold::blockNone, "BLOCK_NONE", "blockNone"},
};

constexpr EnumCase<Probability> kProbabilities[] = {
    {Probability::unknown, "UNKNOWN", "unknown"},
    {Probability::unspecified, "HARM_PROBABILITY_UNSPECIFIED", "unspecified"},
    {Probability::negligible, "NEGLIGIBLE", "negligible"},
    {Probability::low, "LOW", "low"},
    {Probability::medium, "MEDIUM", "medium"},
    {Probability::high, "HIGH", "high"},
};

} // namespace

QString rawValue(Category category)
{
    return coding::rawValueIn<Category>(kCategories, category);
}

QString rawValue(Threshold threshold)
{
    return coding::rawValueIn<Threshold>(kThresholds, threshold);
}

QString rawValue(Probability probability)
{
    return coding::rawValueIn<Probability>(kProbabilities, probability);
}

template <>
std::optional<Category> fromRawValue<Category>(QStringView text)
{
    return coding::fromRawValueIn<Category>(kCategories, text);
}

template <>
std::optional<Threshold> fromRawValue<Threshold>(QStringView text)
{
    return coding::fromRawValueIn<Threshold>(kThresholds, text);
}

template <>
std::optional<Probability> fromRawValue<Probability>(QStringView text)
{
    return coding::fromRawValueIn<Probability>(kProbabilities, text);
}

size_t qHash(const SafetyRating& rating, size_t seed)
{
    seed = ::qHash(rawValue(rating.category()), seed);
    return ::qHash(rawValue(rating.probability()), seed);
}

OrderedJson encodeValue(coding::Encoder& encoder, Category category)
{
    return coding::encodeValue(encoder, rawValue(category));
}

OrderedJson encodeValue(coding::Encoder& encoder, Threshold threshold)
{
    return coding::encodeValue(encoder, rawValue(threshold));
}

OrderedJson encodeValue(coding::Encoder& encoder, const SafetySetting& setting)
{
    OrderedJson object = OrderedJson::object();
    encoder.field(object, "category", setting.harmCategory());
    encoder.field(object, "threshold", setting.threshold());
    return object;
}

Category decodeValue(const coding::Decoder& decoder, coding::Tag<Category>)
{
    return coding::decodeServerEnum<Category>(decoder, kCategories, Category::unknown, "HarmCategory");
}

Threshold decodeValue(const coding::Decoder& decoder, coding::Tag<Threshold>)
{
    return coding::decodeServerEnum<Threshold>(decoder, kThresholds, Threshold::unknown, "BlockThreshold");
}

Probability decodeValue(const coding::Decoder& decoder, coding::Tag<Probability>)
{
    return coding::decodeServerEnum<Probability>(decoder, kProbabilities, Probability::unknown, "HarmProbability");
}

SafetySetting decodeValue(const coding::Decoder& decoder, coding::Tag<SafetySetting>)
{
    const Category category = decoder.decode<Category>("category");
    return SafetySetting(category, decoder.decode<Threshold>("threshold"));
}

SafetyRating decodeValue(const coding::Decoder& decoder, coding::Tag<SafetyRating>)
{
    const Category category = decoder.decode<Category>("category");
    return SafetyRating(category, decoder.decode<Probability>("probability"));
}

SafetyFeedback decodeValue(const coding::Decoder& decoder, coding::Tag<SafetyFeedback>)
{
    SafetyRating rating = decoder.decode<SafetyRating>("rating");
    return SafetyFeedback{rating, decoder.decode<SafetySetting>("setting")};
}

} // namespace gemini
