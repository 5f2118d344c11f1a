#pragma once

#include "gemini-client/CodingError.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The JSON coding of the library's wire model. Requests are written with
// nlohmann::ordered_json so keys keep the order each record writes them in;
// every record field key goes through the encoder's key strategy, while keys
// of string-keyed maps are data and pass unchanged. Answers are read strictly
// with the keys exactly as declared, and every failure names its coding path.
//
// A type takes part by declaring, in its own namespace:
//   OrderedJson encodeValue(coding::Encoder&, const T&);
//   T decodeValue(const coding::Decoder&, coding::Tag<T>);
namespace gemini::coding {

using OrderedJson = nlohmann::ordered_json;
using Json = nlohmann::json;

template <class T>
struct Tag {
};

// Camel case to snake case: a boundary falls before an upper-case letter that
// follows a lower-case one, and inside a run of upper-case letters before the
// last one when a lower-case letter follows the run ("responseMIMEType" gives
// "response_mime_type"). Leading and trailing underscores are kept.
std::string convertToSnakeCase(std::string_view key);

class Encoder {
public:
    enum class KeyStrategy { useDefaultKeys, convertToSnakeCase };

    explicit Encoder(KeyStrategy keyStrategy = KeyStrategy::useDefaultKeys)
        : keyStrategy_(keyStrategy)
    {
    }

    KeyStrategy keyStrategy() const { return keyStrategy_; }
    // The key a record writes for one of its fields.
    std::string fieldKey(std::string_view key) const;

    // A record field, under its (converted) key.
    template <class T>
    void field(OrderedJson& object, std::string_view key, const T& value);
    // A record field that writes no key at all when absent.
    template <class T>
    void fieldIfPresent(OrderedJson& object, std::string_view key, const std::optional<T>& value)
    {
        if (value)
            field(object, key, *value);
    }
    // A map entry: its key is data and passes unchanged.
    template <class T>
    void entry(OrderedJson& object, const QString& key, const T& value);
    template <class T>
    void element(OrderedJson& array, qsizetype index, const T& value);

    // A finite number; a whole number is written without a fraction. NaN and
    // the infinities fail with an EncodingError at the current path.
    OrderedJson number(double value) const;
    [[noreturn]] void invalidValue(const QString& description) const;
    CodingPath codingPath() const;

private:
    struct Step {
        std::string_view fieldKey;
        const QString* entryKey = nullptr;
        qsizetype index = -1;
    };
    class Scope {
    public:
        Scope(Encoder& encoder, Step step)
            : encoder_(encoder)
        {
            encoder_.path_.push_back(step);
        }
        ~Scope() { encoder_.path_.pop_back(); }
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

    private:
        Encoder& encoder_;
    };

    KeyStrategy keyStrategy_;
    std::vector<Step> path_;
};

class Decoder {
public:
    // How deep an answer may nest. Free-form values decode recursively, so a
    // deeper answer would let any server at the base URL exhaust the stack.
    static constexpr int kMaxDepth = 256;

    explicit Decoder(const Json& value)
        : value_(&value)
    {
    }

    const Json& json() const { return *value_; }
    bool isNull() const { return value_->is_null(); }
    CodingPath codingPath() const;

    void expectObject() const;
    void expectArray() const;
    // The key is there, null included.
    bool contains(std::string_view key) const;
    // The key is there and not null.
    bool containsValue(std::string_view key) const;
    Decoder child(std::string_view key) const;
    Decoder element(std::size_t index) const;

    template <class T>
    T decode() const;
    // A required key: absent fails with keyNotFound, null with valueNotFound.
    template <class T>
    T decode(std::string_view key) const
    {
        return child(key).template decode<T>();
    }
    // An optional key: absent or null gives nullopt.
    template <class T>
    std::optional<T> decodeIfPresent(std::string_view key) const
    {
        if (!containsValue(key))
            return std::nullopt;
        return child(key).template decode<T>();
    }

    [[noreturn]] void typeMismatch(const char* expectedType) const;
    [[noreturn]] void valueNotFound(const char* expectedType) const;
    [[noreturn]] void dataCorrupted(const QString& description) const;
    [[noreturn]] void keyNotFound(std::string_view key) const;
    // A mismatch or a missing value, whichever the JSON shows.
    [[noreturn]] void wrongValue(const char* expectedType) const;

private:
    Decoder(const Json& value, const Decoder* parent, std::string_view key, qsizetype index)
        : value_(&value)
        , parent_(parent)
        , key_(key)
        , index_(index)
        , depth_(parent->depth_ + 1)
    {
    }
    // Fails with dataCorrupted at this decoder's path when it nests too deep.
    void checkDepth() const;

    const Json* value_;
    const Decoder* parent_ = nullptr;
    std::string_view key_;
    qsizetype index_ = -1;
    int depth_ = 0;
};

// Primitive coding.
OrderedJson encodeValue(Encoder& encoder, const QString& value);
OrderedJson encodeValue(Encoder& encoder, bool value);
OrderedJson encodeValue(Encoder& encoder, qint64 value);
// The shortest decimal that reads back as the same float, so 0.4f travels as 0.4.
OrderedJson encodeValue(Encoder& encoder, float value);
OrderedJson encodeValue(Encoder& encoder, double value);
// Base64 text in the standard alphabet with padding.
OrderedJson encodeValue(Encoder& encoder, const QByteArray& value);

QString decodeValue(const Decoder& decoder, Tag<QString>);
bool decodeValue(const Decoder& decoder, Tag<bool>);
qint64 decodeValue(const Decoder& decoder, Tag<qint64>);
double decodeValue(const Decoder& decoder, Tag<double>);
QByteArray decodeValue(const Decoder& decoder, Tag<QByteArray>);

template <class T>
OrderedJson encodeValue(Encoder& encoder, const QList<T>& values)
{
    OrderedJson array = OrderedJson::array();
    for (qsizetype i = 0; i < values.size(); ++i)
        encoder.element(array, i, values[i]);
    return array;
}

template <class T>
OrderedJson encodeValue(Encoder& encoder, const QMap<QString, T>& values)
{
    OrderedJson object = OrderedJson::object();
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        encoder.entry(object, it.key(), it.value());
    return object;
}

template <class T>
QList<T> decodeValue(const Decoder& decoder, Tag<QList<T>>)
{
    decoder.expectArray();
    QList<T> values;
    values.reserve(qsizetype(decoder.json().size()));
    for (std::size_t i = 0; i < decoder.json().size(); ++i)
        values.append(decoder.element(i).template decode<T>());
    return values;
}

template <class T>
QMap<QString, T> decodeValue(const Decoder& decoder, Tag<QMap<QString, T>>)
{
    decoder.expectObject();
    QMap<QString, T> values;
    for (auto it = decoder.json().begin(); it != decoder.json().end(); ++it)
        values.insert(QString::fromStdString(it.key()), decoder.child(it.key()).template decode<T>());
    return values;
}

template <class T>
void Encoder::field(OrderedJson& object, std::string_view key, const T& value)
{
    Scope scope(*this, Step{key});
    object[fieldKey(key)] = encodeValue(*this, value);
}

template <class T>
void Encoder::entry(OrderedJson& object, const QString& key, const T& value)
{
    Scope scope(*this, Step{{}, &key});
    object[key.toStdString()] = encodeValue(*this, value);
}

template <class T>
void Encoder::element(OrderedJson& array, qsizetype index, const T& value)
{
    Scope scope(*this, Step{{}, nullptr, index});
    array.push_back(encodeValue(*this, value));
}

template <class T>
T Decoder::decode() const
{
    return decodeValue(*this, Tag<T>{});
}

// Parses bytes as JSON; text that is not JSON fails with a dataCorrupted error.
Json parse(QByteArrayView bytes);

template <class T>
T decode(QByteArrayView bytes)
{
    const Json json = parse(bytes);
    return Decoder(json).decode<T>();
}

QByteArray serialize(const OrderedJson& json);

template <class T>
QByteArray encode(const T& value, Encoder::KeyStrategy keyStrategy = Encoder::KeyStrategy::useDefaultKeys)
{
    Encoder encoder(keyStrategy);
    return serialize(encodeValue(encoder, value));
}

} // namespace gemini::coding
