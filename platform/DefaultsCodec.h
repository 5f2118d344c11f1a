#pragma once

#include <QVariant>
#include <QVariantMap>

#include <nlohmann/json.hpp>

namespace platform {

// The stored form of the user defaults. Strings, numbers, Booleans, arrays and
// dictionaries map onto JSON directly (an integer keeps its integer form, a
// double always carries a fraction or exponent). Data is the one type JSON
// lacks; it travels as {"$data": "<base64>"} so it never reads back as a
// string, and a dictionary key starting with "$" is written with one "$" more,
// so no dictionary reads back as data. Values nested deeper than 256 levels
// do not decode (fromJson throws nlohmann::json::out_of_range).
namespace defaults_codec {

nlohmann::json toJson(const QVariant& value);
QVariant fromJson(const nlohmann::json& json);

// A whole defaults file: a JSON object of key to value. Throws
// nlohmann::json::exception when the text does not parse or is not an object.
QVariantMap parseFile(const QByteArray& text);
QByteArray serializeFile(const QVariantMap& values);

} // namespace defaults_codec
} // namespace platform
