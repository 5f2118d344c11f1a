#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace analytics {

enum class AnalyticsSurveyResponseType { link = 0, rating = 1, openEnded = 2, singleChoice = 3, multipleChoice = 4 };

// None for a raw value the enumeration does not know (negative or above 4).
std::optional<AnalyticsSurveyResponseType> surveyResponseTypeFromRaw(int raw);

// The user's answer to one question. Made only through the factories, each of
// which fills the one value field of its kind and leaves the others absent.
class AnalyticsSurveyResponse {
public:
    static AnalyticsSurveyResponse link(bool clicked);
    static AnalyticsSurveyResponse rating(std::optional<int> value);
    static AnalyticsSurveyResponse openEnded(std::optional<QString> text);
    // One chosen option becomes a list of one; no option stays absent rather
    // than becoming an empty list.
    static AnalyticsSurveyResponse singleChoice(std::optional<QString> option);
    static AnalyticsSurveyResponse multipleChoice(std::optional<QStringList> options);

    AnalyticsSurveyResponseType type() const { return type_; }
    const std::optional<bool>& linkClicked() const { return linkClicked_; }
    const std::optional<int>& ratingValue() const { return ratingValue_; }
    const std::optional<QString>& textValue() const { return textValue_; }
    const std::optional<QStringList>& selectedOptions() const { return selectedOptions_; }

private:
    explicit AnalyticsSurveyResponse(AnalyticsSurveyResponseType type)
        : type_(type)
    {
    }

    AnalyticsSurveyResponseType type_;
    std::optional<bool> linkClicked_;
    std::optional<int> ratingValue_;
    std::optional<QString> textValue_;
    std::optional<QStringList> selectedOptions_;
};

// Where a renderer goes after an answer: the next question, or the end.
struct AnalyticsNextSurveyQuestion {
    int questionIndex = 0;
    bool isSurveyCompleted = false;
};

} // namespace analytics
