#pragma once

#include "gemini-client/JSONCoding.h"
#include "gemini-client/Logging.h"

#include <QString>

#include <optional>
#include <span>

// Enumerations carried on the wire as their raw strings.
namespace gemini::coding {

template <class E>
struct EnumCase {
    E value;
    const char* rawValue;
    const char* caseName;
};

template <class E>
QString rawValueIn(std::span<const EnumCase<E>> cases, E value)
{
    for (const auto& c : cases) {
        if (c.value == value)
            return QString::fromLatin1(c.rawValue);
    }
    return {};
}

template <class E>
QString caseNameIn(std::span<const EnumCase<E>> cases, E value)
{
    for (const auto& c : cases) {
        if (c.value == value)
            return QString::fromLatin1(c.caseName);
    }
    return {};
}

// Exact, case-sensitive; never logs.
template <class E>
std::optional<E> fromRawValueIn(std::span<const EnumCase<E>> cases, QStringView text)
{
    for (const auto& c : cases) {
        if (text == QLatin1String(c.rawValue))
            return c.value;
    }
    return std::nullopt;
}

// A value the service may have added since: an unknown text becomes the
// `unknown` case with one error line, "[GeminiClient] Unrecognized <type>
// with value "<text>".", and never fails. A value that is not a string does.
template <class E>
E decodeServerEnum(const Decoder& decoder, std::span<const EnumCase<E>> cases, E unknown, const char* typeName)
{
    const QString text = decoder.decode<QString>();
    if (auto value = fromRawValueIn(cases, text))
        return *value;
    Logging::defaultLogger().error(
        QStringLiteral("[GeminiClient] Unrecognized %1 with value \"%2\".").arg(QLatin1String(typeName), text));
    return unknown;
}

} // namespace gemini::coding

namespace gemini {

// The case of an enumeration whose raw value is exactly the text, if any.
// Each enumeration of the library specialises it next to its declaration.
template <class E>
std::optional<E> fromRawValue(QStringView text);

} // namespace gemini
