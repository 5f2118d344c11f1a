#include "AnalyticsSurveyResponse.h"

namespace analytics {

std::optional<AnalyticsSurveyResponseType> surveyResponseTypeFromRaw(int raw)
{
    if (raw < 0 || raw > static_cast<int>(AnalyticsSurveyResponseType::multipleChoice))
        return std::nullopt;
    return static_cast<AnalyticsSurveyResponseType>(raw);
}

AnalyticsSurveyResponse AnalyticsSurveyResponse::link(bool clicked)
{
    AnalyticsSurveyResponse response(AnalyticsSurveyResponseType::link);
    response.linkClicked_ = clicked;
    return response;
}

AnalyticsSurveyResponse AnalyticsSurveyResponse::rating(std::optional<int> value)
{
    AnalyticsSurveyResponse response(AnalyticsSurveyResponseType::rating);
    response.ratingValue_ = value;
    return response;
}

AnalyticsSurveyResponse AnalyticsSurveyResponse::openEnded(std::optional<QString> text)
{
    AnalyticsSurveyResponse response(AnalyticsSurveyResponseType::openEnded);
    response.textValue_ = std::move(text);
    return response;
}

AnalyticsSurveyResponse AnalyticsSurveyResponse::singleChoice(std::optional<QString> option)
{
    AnalyticsSurveyResponse response(AnalyticsSurveyResponseType::singleChoice);
    if (option)
        response.selectedOptions_ = QStringList{*option};
    return response;
}

AnalyticsSurveyResponse AnalyticsSurveyResponse::multipleChoice(std::optional<QStringList> options)
{
    AnalyticsSurveyResponse response(AnalyticsSurveyResponseType::multipleChoice);
    response.selectedOptions_ = std::move(options);
    return response;
}

} // namespace analytics
