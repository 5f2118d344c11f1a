#include "analytics/surveys/AnalyticsDisplaySurvey.h"
#include "analytics/surveys/AnalyticsSurveyResponse.h"
#include "analytics/surveys/AnalyticsSurveysConfig.h"

#include <gtest/gtest.h>

using namespace analytics;

TEST(AnalyticsSurveyModels, RawValuesDecodeOnlyWithinTheirRange)
{
    struct Case {
        const char* name;
        int raw;
        bool response, rating, content;
    };
    const Case cases[] = {
        {"negative", -1, false, false, false},
        {"zero", 0, true, true, true},
        {"one", 1, true, true, true},
        {"two", 2, true, false, false},
        {"four", 4, true, false, false},
        {"five", 5, false, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(surveyResponseTypeFromRaw(c.raw).has_value(), c.response);
        EXPECT_EQ(ratingTypeFromRaw(c.raw).has_value(), c.rating);
        EXPECT_EQ(textContentTypeFromRaw(c.raw).has_value(), c.content);
        if (c.response) {
            EXPECT_EQ(static_cast<int>(*surveyResponseTypeFromRaw(c.raw)), c.raw);
        }
    }
}

TEST(AnalyticsSurveyModels, EachResponseFactoryFillsOnlyItsOwnField)
{
    struct Case {
        const char* name;
        AnalyticsSurveyResponse response;
        AnalyticsSurveyResponseType type;
        std::optional<bool> link;
        std::optional<int> rating;
        std::optional<QString> text;
        std::optional<QStringList> options;
    };
    const Case cases[] = {
        {"link not clicked", AnalyticsSurveyResponse::link(false), AnalyticsSurveyResponseType::link, false, {}, {}, {}},
        {"rating", AnalyticsSurveyResponse::rating(4), AnalyticsSurveyResponseType::rating, {}, 4, {}, {}},
        {"no rating", AnalyticsSurveyResponse::rating(std::nullopt), AnalyticsSurveyResponseType::rating, {}, {}, {}, {}},
        {"open", AnalyticsSurveyResponse::openEnded(QStringLiteral("fine")), AnalyticsSurveyResponseType::openEnded,
         {}, {}, QStringLiteral("fine"), {}},
        {"single", AnalyticsSurveyResponse::singleChoice(QStringLiteral("b")), AnalyticsSurveyResponseType::singleChoice,
         {}, {}, {}, QStringList{"b"}},
        {"single without choice stays absent", AnalyticsSurveyResponse::singleChoice(std::nullopt),
         AnalyticsSurveyResponseType::singleChoice, {}, {}, {}, std::nullopt},
        {"multiple", AnalyticsSurveyResponse::multipleChoice(QStringList{"a", "c"}),
         AnalyticsSurveyResponseType::multipleChoice, {}, {}, {}, QStringList{"a", "c"}},
        {"multiple empty stays a list", AnalyticsSurveyResponse::multipleChoice(QStringList{}),
         AnalyticsSurveyResponseType::multipleChoice, {}, {}, {}, QStringList{}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.response.type(), c.type);
        EXPECT_EQ(c.response.linkClicked(), c.link);
        EXPECT_EQ(c.response.ratingValue(), c.rating);
        EXPECT_EQ(c.response.textValue(), c.text);
        EXPECT_EQ(c.response.selectedOptions(), c.options);
    }
}

TEST(AnalyticsSurveyModels, DefaultRendererNeverCallsBack)
{
    AnalyticsSurveysConfig config;
    ASSERT_NE(dynamic_cast<AnalyticsSurveysDefaultDelegate*>(config.surveysDelegate.get()), nullptr);

    AnalyticsDisplayChoiceQuestion::Options options;
    options.choices = {"yes", "no"};
    AnalyticsDisplaySurveyQuestion::Common common;
    common.id = "q1";
    common.question = "Like it?";
    const AnalyticsDisplaySurvey survey(
        "s1", "Feedback",
        {std::make_shared<AnalyticsDisplayChoiceQuestion>(common, options)});
    int calls = 0;
    config.surveysDelegate->renderSurvey(
        survey, [&](const AnalyticsDisplaySurvey&) { ++calls; },
        [&](const AnalyticsDisplaySurvey&, int, const AnalyticsSurveyResponse&) {
            ++calls;
            return std::optional<AnalyticsNextSurveyQuestion>();
        },
        [&](const AnalyticsDisplaySurvey&) { ++calls; });
    config.surveysDelegate->cleanupSurveys();
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(survey.questions().size(), 1u);
}
