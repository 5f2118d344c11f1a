#pragma once

#include <QString>

#include <optional>

// Advice on a model name as the user typed it. Nothing here rejects a name.
namespace AIModelValidator {

// The first warning that applies (empty name, then a dated snapshot suffix,
// then a preview build), or none.
std::optional<QString> warning(const QString& modelName);

} // namespace AIModelValidator
