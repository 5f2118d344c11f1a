#include "AnalyticsDisplaySurvey.h"

namespace analytics {

std::optional<AnalyticsDisplaySurveyRatingType> ratingTypeFromRaw(int raw)
{
    switch (raw) {
    case 0:
        return AnalyticsDisplaySurveyRatingType::number;
    case 1:
        return AnalyticsDisplaySurveyRatingType::emoji;
    default:
        return std::nullopt;
    }
}

std::optional<AnalyticsDisplaySurveyTextContentType> textContentTypeFromRaw(int raw)
{
    switch (raw) {
    case 0:
        return AnalyticsDisplaySurveyTextContentType::text;
    case 1:
        return AnalyticsDisplaySurveyTextContentType::html;
    default:
        return std::nullopt;
    }
}

} // namespace analytics
