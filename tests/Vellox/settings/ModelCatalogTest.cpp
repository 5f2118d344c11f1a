#include "SettingsTestSupport.h"

#include "Vellox/settings/AIModel.h"
#include "Vellox/settings/AIModelValidator.h"
#include "Vellox/settings/AppSettings.h"
#include "Vellox/settings/ModelRegistry.h"
#include "Vellox/settings/ProviderId.h"

#include <QSet>

#include <gtest/gtest.h>

namespace {

QStringList modelIds(const QList<AIModel>& models)
{
    QStringList ids;
    for (const AIModel& model : models)
        ids.append(model.modelId());
    return ids;
}

} // namespace

TEST(ProviderId, StoredStringsRoundTripAndNothingElseIsAccepted)
{
    struct Case {
        const char* name;
        ProviderId provider;
        const char* raw;
    };
    const Case cases[] = {
        {"mock", ProviderId::mock, "mock"},
        {"openai", ProviderId::openaiCompatible, "openai-compatible"},
        {"gemini", ProviderId::gemini, "gemini"},
        {"anthropic", ProviderId::anthropic, "anthropic"},
    };
    ASSERT_EQ(ProviderId::allCases().size(), static_cast<qsizetype>(std::size(cases)));
    for (qsizetype i = 0; i < ProviderId::allCases().size(); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ProviderId::allCases()[i], c.provider);
        EXPECT_EQ(c.provider.rawValue(), QString::fromLatin1(c.raw));
        EXPECT_EQ(ProviderId::fromRawValue(QString::fromLatin1(c.raw)), c.provider);
    }
    for (const char* raw : {"openai", "OpenAI-Compatible", "Gemini", " gemini", "", "claude"}) {
        SCOPED_TRACE(raw);
        EXPECT_EQ(ProviderId::fromRawValue(QString::fromLatin1(raw)), std::nullopt);
    }
}

TEST(ProviderId, UsersAreNeverOfferedTheMock)
{
    EXPECT_EQ(ProviderId::userFacingCases(),
              (QList<ProviderId>{ProviderId::openaiCompatible, ProviderId::gemini, ProviderId::anthropic}));
    EXPECT_TRUE(ProviderId(ProviderId::mock).suggestedAIModels().isEmpty());
}

TEST(ProviderId, SuggestsKnownModelsPerProvider)
{
    struct Case {
        const char* name;
        ProviderId provider;
        QStringList expected;
    };
    const Case cases[] = {
        {"openai", ProviderId::openaiCompatible, {"gpt-4o-mini", "gpt-4o", "gpt-4.1", "o4-mini", "o3"}},
        {"gemini", ProviderId::gemini, {"gemini-2.5-flash", "gemini-2.5-flash-lite", "gemini-2.5-pro"}},
        {"anthropic",
         ProviderId::anthropic,
         {"claude-3-5-haiku-20241022", "claude-3-5-sonnet-20241022", "claude-3-7-sonnet-20250219",
          "claude-3-opus-20240229"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QList<AIModel> models = c.provider.suggestedAIModels();
        EXPECT_EQ(modelIds(models), c.expected);
        for (const AIModel& model : models)
            EXPECT_FALSE(model.isCustom()) << model.modelId().toStdString();
    }
}

TEST(AIModel, KnownModelsHaveTheirIdentifiersAndDisplayNames)
{
    struct Case {
        AIModel::Known known;
        const char* modelId;
        const char* displayName;
    };
    const Case cases[] = {
        {AIModel::Known::gpt4oMini, "gpt-4o-mini", "GPT-4o mini"},
        {AIModel::Known::gpt4o, "gpt-4o", "GPT-4o"},
        {AIModel::Known::gpt41, "gpt-4.1", "GPT-4.1"},
        {AIModel::Known::gpt41Mini, "gpt-4.1-mini", "GPT-4.1 mini"},
        {AIModel::Known::o3, "o3", "o3"},
        {AIModel::Known::o4Mini, "o4-mini", "o4-mini"},
        {AIModel::Known::gemini25Flash, "gemini-2.5-flash", "Gemini 2.5 Flash"},
        {AIModel::Known::gemini25FlashLite, "gemini-2.5-flash-lite", "Gemini 2.5 Flash Lite"},
        {AIModel::Known::gemini25Pro, "gemini-2.5-pro", "Gemini 2.5 Pro"},
        {AIModel::Known::claude35Haiku, "claude-3-5-haiku-20241022", "Claude 3.5 Haiku"},
        {AIModel::Known::claude35Sonnet, "claude-3-5-sonnet-20241022", "Claude 3.5 Sonnet"},
        {AIModel::Known::claude37Sonnet, "claude-3-7-sonnet-20250219", "Claude 3.7 Sonnet"},
        {AIModel::Known::claude3Opus, "claude-3-opus-20240229", "Claude 3 Opus"},
    };
    ASSERT_EQ(AIModel::allKnown().size(), static_cast<qsizetype>(std::size(cases)));
    for (qsizetype i = 0; i < AIModel::allKnown().size(); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.modelId);
        EXPECT_EQ(AIModel::allKnown()[i], c.known);
        const AIModel model(c.known);
        EXPECT_EQ(model.modelId(), QString::fromLatin1(c.modelId));
        EXPECT_EQ(model.displayName(), QString::fromLatin1(c.displayName));
        EXPECT_EQ(AIModel(QString::fromLatin1(c.modelId)), model);
    }
}

TEST(AIModel, OtherIdentifiersAreCustom)
{
    struct Case {
        const char* name;
        QString input;
        QString displayName;
    };
    const Case cases[] = {
        {"capitals", QStringLiteral("GPT-4O"), QStringLiteral("GPT-4O")},
        {"leading blank", QStringLiteral(" gpt-4o"), QStringLiteral(" gpt-4o")},
        {"trailing line feed", QStringLiteral("gpt-4o\n"), QStringLiteral("gpt-4o\n")},
        {"unknown", QStringLiteral("mistral-large"), QStringLiteral("mistral-large")},
        {"empty", QString(), QStringLiteral("Custom")},
        {"single blank", QStringLiteral(" "), QStringLiteral(" ")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const AIModel model(c.input);
        EXPECT_TRUE(model.isCustom());
        EXPECT_EQ(model, AIModel::custom(c.input));
        EXPECT_EQ(model.modelId(), c.input);
        EXPECT_EQ(model.displayName(), c.displayName);
    }
}

TEST(AIModel, CustomModelNamedLikeAKnownOneIsADifferentModel)
{
    const AIModel known(AIModel::Known::gpt4o);
    const AIModel custom = AIModel::custom(QStringLiteral("gpt-4o"));
    EXPECT_NE(custom, known);
    EXPECT_EQ(custom.modelId(), known.modelId());
    EXPECT_EQ(custom, AIModel::custom(QStringLiteral("gpt-4o")));
    EXPECT_NE(AIModel::custom(QStringLiteral("a")), AIModel::custom(QStringLiteral("b")));
    EXPECT_EQ(QSet<AIModel>({known, custom, AIModel(QStringLiteral("gpt-4o")), AIModel::custom("gpt-4o")}).size(), 2);
}

TEST(ModelRegistry, MigratesRetiredModelsPerProvider)
{
    struct Case {
        const char* name;
        ProviderId provider;
        const char* model;
        const char* expected;
    };
    const Case cases[] = {
        {"openai gpt-4-turbo", ProviderId::openaiCompatible, "gpt-4-turbo", "gpt-4o-mini"},
        {"openai o3-mini", ProviderId::openaiCompatible, "o3-mini", "gpt-4o-mini"},
        {"openai current model stays", ProviderId::openaiCompatible, "gpt-4o", "gpt-4o"},
        {"openai match is exact", ProviderId::openaiCompatible, "O3-mini", "O3-mini"},
        {"openai no trimming", ProviderId::openaiCompatible, "o3-mini ", "o3-mini "},
        {"sets are per provider", ProviderId::openaiCompatible, "gemini-1.5-pro", "gemini-1.5-pro"},
        {"gemini flash latest", ProviderId::gemini, "gemini-flash-latest", "gemini-2.5-flash"},
        {"gemini 1.5 flash", ProviderId::gemini, "gemini-1.5-flash", "gemini-2.5-flash"},
        {"gemini 1.5 pro", ProviderId::gemini, "gemini-1.5-pro", "gemini-2.5-flash"},
        {"gemini 1.5 pro with suffix stays", ProviderId::gemini, "gemini-1.5-pro-002", "gemini-1.5-pro-002"},
        {"gemini any 2.0 model", ProviderId::gemini, "gemini-2.0-flash-exp", "gemini-2.5-flash"},
        {"gemini bare 2.0 prefix", ProviderId::gemini, "gemini-2.0", "gemini-2.5-flash"},
        {"gemini 2.0 prefix is case-sensitive", ProviderId::gemini, "Gemini-2.0-flash", "Gemini-2.0-flash"},
        {"gemini current model stays", ProviderId::gemini, "gemini-2.5-pro", "gemini-2.5-pro"},
        {"gemini retired openai model stays", ProviderId::gemini, "gpt-4-turbo", "gpt-4-turbo"},
        {"anthropic keeps everything", ProviderId::anthropic, "claude-2", "claude-2"},
        {"anthropic keeps gemini 2.0", ProviderId::anthropic, "gemini-2.0-flash", "gemini-2.0-flash"},
        {"mock keeps everything", ProviderId::mock, "o3-mini", "o3-mini"},
    };
    EXPECT_TRUE(ModelRegistry::Deprecated::anthropic().isEmpty());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AppSettings settings;
        settings.provider = c.provider;
        settings.model = QString::fromLatin1(c.model);
        settings.applyDeprecatedModelMigrations();
        EXPECT_EQ(settings.model, QString::fromLatin1(c.expected));
        EXPECT_EQ(settings.provider, c.provider);
    }
}

TEST(AIModelValidator, WarnsAboutEmptyDatedAndPreviewNames)
{
    const QString empty = QStringLiteral("Model name cannot be empty.");
    const QString dated = QStringLiteral(
        "Model name ends with a date snapshot suffix (e.g. -20241022). Prefer the stable alias if one exists.");
    const QString preview =
        QStringLiteral("Model name contains '-preview' \u2014 this version may be discontinued without notice.");
    struct Case {
        const char* name;
        QString input;
        std::optional<QString> expected;
    };
    const Case cases[] = {
        {"empty", QString(), empty},
        {"blanks and line breaks", QStringLiteral("  \n\t\r\n "), empty},
        {"dated snapshot", QStringLiteral("claude-3-5-haiku-20241022"), dated},
        {"dated snapshot after trimming", QStringLiteral(" claude-3-opus-20240229\n"), dated},
        {"date wins over preview", QStringLiteral("gemini-preview-20250101"), dated},
        {"seven digits", QStringLiteral("model-2024102"), std::nullopt},
        {"nine digits end in eight", QStringLiteral("model-202410221"), std::nullopt},
        {"date not at the end", QStringLiteral("model-20241022-x"), std::nullopt},
        {"preview", QStringLiteral("gemini-2.5-flash-preview"), preview},
        {"preview in capitals", QStringLiteral("gemini-2.5-flash-PREVIEW"), preview},
        {"preview in the middle", QStringLiteral("gemini-2.5-flash-preview-05-20"), preview},
        {"preview without hyphen", QStringLiteral("previewmodel"), std::nullopt},
        {"current alias", QStringLiteral("gpt-4o-mini"), std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(AIModelValidator::warning(c.input), c.expected);
    }
}
