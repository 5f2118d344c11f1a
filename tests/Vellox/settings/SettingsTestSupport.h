#pragma once

#include "Vellox/settings/AIModel.h"
#include "Vellox/settings/AppSettings.h"
#include "Vellox/settings/ProviderId.h"
#include "Vellox/settings/ToneId.h"
#include "Vellox/settings/TonePreset.h"

#include <QList>

#include <functional>
#include <ostream>

// Readable failure messages for the settings types.
inline void PrintTo(const AppSettings& settings, std::ostream* os)
{
    *os << settings.toJson().toStdString();
}

inline void PrintTo(const TonePreset& preset, std::ostream* os)
{
    *os << "{" << TonePreset::idText(preset.id).toStdString() << ", " << preset.name.toStdString() << "}";
}

inline void PrintTo(ProviderId provider, std::ostream* os)
{
    *os << provider.rawValue().toStdString();
}

inline void PrintTo(ToneId tone, std::ostream* os)
{
    *os << tone.rawValue().toStdString();
}

inline void PrintTo(const AIModel& model, std::ostream* os)
{
    *os << (model.isCustom() ? "custom:" : "known:") << model.modelId().toStdString();
}

namespace settings_test {

// Built-in preset by its catalogue number, 1 to 18.
inline const TonePreset& builtIn(int number)
{
    return TonePreset::builtIns().at(number - 1);
}

inline AppSettings defaultsWith(const std::function<void(AppSettings&)>& change)
{
    AppSettings settings;
    change(settings);
    return settings;
}

inline TonePreset customPreset(const char* idText, const char* name)
{
    return TonePreset{*TonePreset::idFromText(QString::fromLatin1(idText)), QString::fromUtf8(name),
                      QStringLiteral("Do something.")};
}

} // namespace settings_test
