#include "Vellox/settings/AIModel.h"

namespace {

struct KnownModel {
    AIModel::Known known;
    const char* modelId;
    const char* displayName;
};

// In the order the catalogue lists them; lookups take the first match.
constexpr KnownModel kKnownModels[] = {
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

const KnownModel& entry(AIModel::Known known)
{
    for (const KnownModel& model : kKnownModels) {
        if (model.known == known)
            return model;
    }
    Q_UNREACHABLE();
}

const char* const kCustomDisplayName = "Custom";

} // namespace

AIModel::AIModel(const QString& modelId)
{
    for (const KnownModel& model : kKnownModels) {
        if (modelId == QLatin1String(model.modelId)) {
            known_ = model.known;
            return;
        }
    }
    customText_ = modelId;
}

AIModel AIModel::custom(const QString& text)
{
    AIModel model;
    model.customText_ = text;
    return model;
}

const QList<AIModel::Known>& AIModel::allKnown()
{
    static const QList<Known> all = [] {
        QList<Known> list;
        for (const KnownModel& model : kKnownModels)
            list.append(model.known);
        return list;
    }();
    return all;
}

QString AIModel::modelId() const
{
    return known_ ? QString::fromLatin1(entry(*known_).modelId) : customText_;
}

QString AIModel::displayName() const
{
    if (known_)
        return QString::fromLatin1(entry(*known_).displayName);
    return customText_.isEmpty() ? QString::fromLatin1(kCustomDisplayName) : customText_;
}

size_t qHash(const AIModel& model, size_t seed) noexcept
{
    const std::optional<AIModel::Known> known = model.known();
    return known ? qHashMulti(seed, 1, static_cast<int>(*known)) : qHashMulti(seed, 0, model.modelId());
}
