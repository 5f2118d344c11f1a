#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <vector>

namespace analytics {

// How a survey's rating question asks: on a scale of numbers or of emoji.
enum class AnalyticsDisplaySurveyRatingType { number = 0, emoji = 1 };
// Whether a text is shown as it stands or rendered as HTML.
enum class AnalyticsDisplaySurveyTextContentType { text = 0, html = 1 };

// None for any raw value the enumeration does not know.
std::optional<AnalyticsDisplaySurveyRatingType> ratingTypeFromRaw(int raw);
std::optional<AnalyticsDisplaySurveyTextContentType> textContentTypeFromRaw(int raw);

// The look of a survey as its renderer should draw it. Every field is read-only
// once made; absent fields leave the renderer's own choice.
struct AnalyticsDisplaySurveyAppearance {
    std::optional<QString> fontFamily;
    std::optional<QString> backgroundColor;
    std::optional<QString> borderColor;
    std::optional<QString> submitButtonColor;
    std::optional<QString> submitButtonText;
    std::optional<QString> submitButtonTextColor;
    std::optional<QString> textColor;
    std::optional<QString> descriptionTextColor;
    std::optional<QString> ratingButtonColor;
    std::optional<QString> ratingButtonActiveColor;
    std::optional<QString> inputBackground;
    std::optional<QString> inputTextColor;
    std::optional<QString> placeholder;
    std::optional<double> surveyPopupDelaySeconds;
    bool displayThankYouMessage = false;
    std::optional<QString> thankYouMessageHeader;
    std::optional<QString> thankYouMessageDescription;
    std::optional<AnalyticsDisplaySurveyTextContentType> thankYouMessageDescriptionContentType;
    std::optional<QString> thankYouMessageCloseButtonText;
};

// One question of a survey; the kinds below add what they need.
class AnalyticsDisplaySurveyQuestion {
public:
    struct Common {
        QString id;
        QString question;
        std::optional<QString> questionDescription;
        AnalyticsDisplaySurveyTextContentType questionDescriptionContentType =
            AnalyticsDisplaySurveyTextContentType::text;
        bool isOptional = false;
        std::optional<QString> buttonText;
    };

    virtual ~AnalyticsDisplaySurveyQuestion() = default;

    const QString& id() const { return common_.id; }
    const QString& question() const { return common_.question; }
    const std::optional<QString>& questionDescription() const { return common_.questionDescription; }
    AnalyticsDisplaySurveyTextContentType questionDescriptionContentType() const
    {
        return common_.questionDescriptionContentType;
    }
    bool isOptional() const { return common_.isOptional; }
    const std::optional<QString>& buttonText() const { return common_.buttonText; }

protected:
    explicit AnalyticsDisplaySurveyQuestion(Common common)
        : common_(std::move(common))
    {
    }

private:
    Common common_;
};

class AnalyticsDisplayOpenQuestion final : public AnalyticsDisplaySurveyQuestion {
public:
    explicit AnalyticsDisplayOpenQuestion(Common common)
        : AnalyticsDisplaySurveyQuestion(std::move(common))
    {
    }
};

class AnalyticsDisplayLinkQuestion final : public AnalyticsDisplaySurveyQuestion {
public:
    AnalyticsDisplayLinkQuestion(Common common, std::optional<QString> link)
        : AnalyticsDisplaySurveyQuestion(std::move(common))
        , link_(std::move(link))
    {
    }
    const std::optional<QString>& link() const { return link_; }

private:
    std::optional<QString> link_;
};

class AnalyticsDisplayRatingQuestion final : public AnalyticsDisplaySurveyQuestion {
public:
    struct Scale {
        AnalyticsDisplaySurveyRatingType ratingType = AnalyticsDisplaySurveyRatingType::number;
        int scaleLowerBound = 0;
        int scaleUpperBound = 0;
        QString lowerBoundLabel;
        QString upperBoundLabel;
    };

    AnalyticsDisplayRatingQuestion(Common common, Scale scale)
        : AnalyticsDisplaySurveyQuestion(std::move(common))
        , scale_(std::move(scale))
    {
    }
    AnalyticsDisplaySurveyRatingType ratingType() const { return scale_.ratingType; }
    int scaleLowerBound() const { return scale_.scaleLowerBound; }
    int scaleUpperBound() const { return scale_.scaleUpperBound; }
    const QString& lowerBoundLabel() const { return scale_.lowerBoundLabel; }
    const QString& upperBoundLabel() const { return scale_.upperBoundLabel; }

private:
    Scale scale_;
};

class AnalyticsDisplayChoiceQuestion final : public AnalyticsDisplaySurveyQuestion {
public:
    struct Options {
        QStringList choices;
        bool hasOpenChoice = false;
        bool shuffleOptions = false;
        bool isMultipleChoice = false;
    };

    AnalyticsDisplayChoiceQuestion(Common common, Options options)
        : AnalyticsDisplaySurveyQuestion(std::move(common))
        , options_(std::move(options))
    {
    }
    const QStringList& choices() const { return options_.choices; }
    bool hasOpenChoice() const { return options_.hasOpenChoice; }
    bool shuffleOptions() const { return options_.shuffleOptions; }
    bool isMultipleChoice() const { return options_.isMultipleChoice; }

private:
    Options options_;
};

// A survey in the form a renderer shows it.
class AnalyticsDisplaySurvey {
public:
    AnalyticsDisplaySurvey(QString id, QString name,
                           std::vector<std::shared_ptr<const AnalyticsDisplaySurveyQuestion>> questions,
                           std::optional<AnalyticsDisplaySurveyAppearance> appearance = std::nullopt,
                           std::optional<QDateTime> startDate = std::nullopt,
                           std::optional<QDateTime> endDate = std::nullopt)
        : id_(std::move(id))
        , name_(std::move(name))
        , questions_(std::move(questions))
        , appearance_(std::move(appearance))
        , startDate_(std::move(startDate))
        , endDate_(std::move(endDate))
    {
    }

    const QString& id() const { return id_; }
    const QString& name() const { return name_; }
    const std::vector<std::shared_ptr<const AnalyticsDisplaySurveyQuestion>>& questions() const { return questions_; }
    const std::optional<AnalyticsDisplaySurveyAppearance>& appearance() const { return appearance_; }
    const std::optional<QDateTime>& startDate() const { return startDate_; }
    const std::optional<QDateTime>& endDate() const { return endDate_; }

private:
    QString id_;
    QString name_;
    std::vector<std::shared_ptr<const AnalyticsDisplaySurveyQuestion>> questions_;
    std::optional<AnalyticsDisplaySurveyAppearance> appearance_;
    std::optional<QDateTime> startDate_;
    std::optional<QDateTime> endDate_;
};

} // namespace analytics
