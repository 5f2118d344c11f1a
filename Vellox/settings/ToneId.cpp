#include "Vellox/settings/ToneId.h"

QString ToneId::rawValue() const
{
    switch (value_) {
    case professional:
        return QStringLiteral("professional");
    case casual:
        return QStringLiteral("casual");
    case friendly:
        return QStringLiteral("friendly");
    case concise:
        return QStringLiteral("concise");
    case assertive:
        return QStringLiteral("assertive");
    }
    return {};
}

std::optional<ToneId> ToneId::fromRawValue(QStringView raw)
{
    for (ToneId tone : allCases()) {
        if (tone.rawValue() == raw)
            return tone;
    }
    return std::nullopt;
}

const QList<ToneId>& ToneId::allCases()
{
    static const QList<ToneId> cases{professional, casual, friendly, concise, assertive};
    return cases;
}
