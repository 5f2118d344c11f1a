#pragma once

#include "gemini-client/EnumCoding.h"
#include "gemini-client/JSONCoding.h"

#include <QHashFunctions>
#include <QString>

// Safety settings a caller sends and the ratings the service reports. Every
// enumeration here turns a value the service added later into `unknown` with
// one error line instead of failing.
namespace gemini {

class SafetySetting {
public:
    enum class HarmCategory { unknown, unspecified, harassment, hateSpeech, sexuallyExplicit, dangerousContent };
    enum class BlockThreshold { unknown, unspecified, blockLowAndAbove, blockMediumAndAbove, blockOnlyHigh, blockNone };

    SafetySetting(HarmCategory harmCategory, BlockThreshold threshold)
        : harmCategory_(harmCategory)
        , threshold_(threshold)
    {
    }

    HarmCategory harmCategory() const { return harmCategory_; }
    BlockThreshold threshold() const { return threshold_; }

private:
    HarmCategory harmCategory_;
    BlockThreshold threshold_;
};

class SafetyRating {
public:
    enum class HarmProbability { unknown, unspecified, negligible, low, medium, high };

    SafetyRating(SafetySetting::HarmCategory category, HarmProbability probability)
        : category_(category)
        , probability_(probability)
    {
    }

    SafetySetting::HarmCategory category() const { return category_; }
    HarmProbability probability() const { return probability_; }

    bool operator==(const SafetyRating&) const = default;

private:
    SafetySetting::HarmCategory category_;
    HarmProbability probability_;
};

// Hashes the raw value of the category, then that of the probability.
size_t qHash(const SafetyRating& rating, size_t seed = 0);

struct SafetyFeedback {
    SafetyRating rating;
    SafetySetting setting;
};

QString rawValue(SafetySetting::HarmCategory category);
QString rawValue(SafetySetting::BlockThreshold threshold);
QString rawValue(SafetyRating::HarmProbability probability);
template <>
std::optional<SafetySetting::HarmCategory> fromRawValue<SafetySetting::HarmCategory>(QStringView text);
template <>
std::optional<SafetySetting::BlockThreshold> fromRawValue<SafetySetting::BlockThreshold>(QStringView text);
template <>
std::optional<SafetyRating::HarmProbability> fromRawValue<SafetyRating::HarmProbability>(QStringView text);

coding::OrderedJson encodeValue(coding::Encoder& encoder, SafetySetting::HarmCategory category);
coding::OrderedJson encodeValue(coding::Encoder& encoder, SafetySetting::BlockThreshold threshold);
coding::OrderedJson encodeValue(coding::Encoder& encoder, const SafetySetting& setting);

SafetySetting::HarmCategory decodeValue(const coding::Decoder& decoder, coding::Tag<SafetySetting::HarmCategory>);
SafetySetting::BlockThreshold decodeValue(const coding::Decoder& decoder, coding::Tag<SafetySetting::BlockThreshold>);
SafetyRating::HarmProbability decodeValue(const coding::Decoder& decoder, coding::Tag<SafetyRating::HarmProbability>);
SafetySetting decodeValue(const coding::Decoder& decoder, coding::Tag<SafetySetting>);
SafetyRating decodeValue(const coding::Decoder& decoder, coding::Tag<SafetyRating>);
SafetyFeedback decodeValue(const coding::Decoder& decoder, coding::Tag<SafetyFeedback>);

} // namespace gemini
