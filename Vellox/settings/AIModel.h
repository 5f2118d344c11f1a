#pragma once

#include <QHashFunctions>
#include <QList>
#include <QString>

#include <optional>

// One model choice: a model the program knows by name, or any other
// identifier the user typed. Not persisted; the settings keep only the
// identifier text.
class AIModel {
public:
    enum class Known {
        gpt4oMini,
        gpt4o,
        gpt41,
        gpt41Mini,
        o3,
        o4Mini,
        gemini25Flash,
        gemini25FlashLite,
        gemini25Pro,
        claude35Haiku,
        claude35Sonnet,
        claude37Sonnet,
        claude3Opus,
    };

    AIModel(Known known) // NOLINT(google-explicit-constructor)
        : known_(known)
    {
    }
    // The known model whose identifier is exactly `modelId` (no trimming, case
    // matters), else a custom model with that text.
    explicit AIModel(const QString& modelId);
    static AIModel custom(const QString& text);

    static const QList<Known>& allKnown();

    bool isCustom() const { return !known_.has_value(); }
    std::optional<Known> known() const { return known_; }

    QString modelId() const;
    QString displayName() const;

    // A custom model never equals a known one, even with the same identifier.
    friend bool operator==(const AIModel&, const AIModel&) = default;

private:
    AIModel() = default;

    std::optional<Known> known_;
    QString customText_; // empty for known models
};

size_t qHash(const AIModel& model, size_t seed = 0) noexcept;
