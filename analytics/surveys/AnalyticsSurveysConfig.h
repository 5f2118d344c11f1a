#pragma once

#include "analytics/surveys/AnalyticsDisplaySurvey.h"
#include "analytics/surveys/AnalyticsSurveyResponse.h"

#include <functional>
#include <memory>
#include <optional>

namespace analytics {

// What a survey renderer implements: show a survey and report back through the
// three callbacks; the response callback answers with where to go next.
class AnalyticsSurveysDelegate {
public:
    using ShownCallback = std::function<void(const AnalyticsDisplaySurvey&)>;
    using ResponseCallback = std::function<std::optional<AnalyticsNextSurveyQuestion>(
        const AnalyticsDisplaySurvey&, int questionIndex, const AnalyticsSurveyResponse&)>;
    using ClosedCallback = std::function<void(const AnalyticsDisplaySurvey&)>;

    virtual ~AnalyticsSurveysDelegate() = default;
    virtual void renderSurvey(const AnalyticsDisplaySurvey& survey, ShownCallback onSurveyShown,
                              ResponseCallback onSurveyResponse, ClosedCallback onSurveyClosed) = 0;
    virtual void cleanupSurveys() = 0;
};

// Surveys are never shown on this platform, so the default renderer draws
// nothing and never calls back.
class AnalyticsSurveysDefaultDelegate final : public AnalyticsSurveysDelegate {
public:
    void renderSurvey(const AnalyticsDisplaySurvey&, ShownCallback, ResponseCallback, ClosedCallback) override {}
    void cleanupSurveys() override {}
};

class AnalyticsSurveysConfig {
public:
    std::shared_ptr<AnalyticsSurveysDelegate> surveysDelegate = std::make_shared<AnalyticsSurveysDefaultDelegate>();
};

} // namespace analytics
