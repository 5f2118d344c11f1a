#pragma once

#include "gemini-client/JSONCoding.h"

#include <QList>
#include <QMap>
#include <QString>

#include <type_traits>
#include <variant>

namespace gemini {

// A free-form JSON value: function-call arguments and function responses.
class JSONValue {
public:
    using Object = QMap<QString, JSONValue>;
    using Array = QList<JSONValue>;
    enum class Kind { number, string, boolean, object, array, null };

    JSONValue() = default;
    JSONValue(std::nullptr_t) { }
    template <class N>
        requires(std::is_arithmetic_v<N> && !std::is_same_v<N, bool>)
    JSONValue(N number)
        : value_(double(number))
    {
    }
    JSONValue(bool value)
        : value_(value)
    {
    }
    JSONValue(QString text)
        : value_(std::move(text))
    {
    }
    JSONValue(const char* text)
        : value_(QString::fromUtf8(text))
    {
    }
    JSONValue(Object object)
        : value_(std::move(object))
    {
    }
    JSONValue(Array array)
        : value_(std::move(array))
    {
    }

    Kind kind() const { return Kind(value_.index()); }
    const double* number() const { return std::get_if<double>(&value_); }
    const QString* string() const { return std::get_if<QString>(&value_); }
    const bool* boolean() const { return std::get_if<bool>(&value_); }
    const Object* object() const { return std::get_if<Object>(&value_); }
    const Array* array() const { return std::get_if<Array>(&value_); }
    bool isNull() const { return kind() == Kind::null; }

    // Same case and equal payloads; numbers compare as doubles, so NaN is
    // unequal to itself and 0 equals -0.
    bool operator==(const JSONValue&) const = default;

private:
    struct Null {
        bool operator==(const Null&) const = default;
    };
    // In the order of Kind.
    std::variant<double, QString, bool, Object, Array, Null> value_ = Null{};
};

// A number goes out as a decimal: a whole number without a fraction, a
// fraction in its shortest form. NaN and infinity fail to encode.
coding::OrderedJson encodeValue(coding::Encoder& encoder, const JSONValue& value);
JSONValue decodeValue(const coding::Decoder& decoder, coding::Tag<JSONValue>);

} // namespace gemini
