#pragma once

#include <QString>

namespace GlobalShortcuts::Texts {

// The component's user-visible text for a key, in the user's language when the
// component has it and in English otherwise. A key without a text yields the
// key itself.
QString text(const QString& key);

// The same for one language ("en", "de"), ignoring the user's locale.
QString text(const QString& key, const QString& language);

} // namespace GlobalShortcuts::Texts
