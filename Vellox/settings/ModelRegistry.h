#pragma once

#include "Vellox/settings/ProviderId.h"

#include <QSet>
#include <QString>

#include <optional>

// Retired model identifiers and what replaces them when stored settings load.
namespace ModelRegistry {

namespace Deprecated {
const QSet<QString>& openai();
const QSet<QString>& gemini();
// Empty: no Anthropic model has been retired yet.
const QSet<QString>& anthropic();
} // namespace Deprecated

// The identifier that replaces `model` for `provider` when `model` is retired,
// or none when it stays. Comparison is exact: no trimming, case matters.
std::optional<QString> replacementForRetiredModel(ProviderId provider, const QString& model);

} // namespace ModelRegistry
