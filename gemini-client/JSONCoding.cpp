#include "JSONCoding.h"

#include "gemini-client/ErrorTexts.h"

#include <charconv>
#include <cmath>

namespace gemini::coding {

namespace {

bool isUpper(char c)
{
    return c >= 'A' && c <= 'Z';
}

bool isLower(char c)
{
    return c >= 'a' && c <= 'z';
}

char toLower(char c)
{
    return isUpper(c) ? char(c - 'A' + 'a') : c;
}

const char* foundDescription(const Json& value)
{
    switch (value.type()) {
    case Json::value_t::null: return "null";
    case Json::value_t::boolean: return "a boolean";
    case Json::value_t::string: return "a string";
    case Json::value_t::array: return "an array";
    case Json::value_t::object: return "a dictionary";
    case Json::value_t::number_integer:
    case Json::value_t::number_unsigned:
    case Json::value_t::number_float: return "a number";
    default: return "an unsupported value";
    }
}

QString numberText(const Json& value)
{
    return QString::fromStdString(value.dump());
}

// Whole numbers inside this range are written as integers: both bounds are
// exact doubles, so the conversion below cannot overflow.
constexpr double kIntegerLimit = 9223372036854775808.0; // 2^63

} // namespace

std::string convertToSnakeCase(std::string_view key)
{
    std::string result;
    result.reserve(key.size() + 4);
    for (std::size_t i = 0; i < key.size(); ++i) {
        const char c = key[i];
        if (isUpper(c) && i > 0) {
            const char previous = key[i - 1];
            const bool afterLower = isLower(previous);
            const bool endsUpperRun = isUpper(previous) && i + 1 < key.size() && isLower(key[i + 1]);
            if (afterLower || endsUpperRun)
                result.push_back('_');
        }
        result.push_back(toLower(c));
    }
    return result;
}

std::string Encoder::fieldKey(std::string_view key) const
{
    if (keyStrategy_ == KeyStrategy::convertToSnakeCase)
        return convertToSnakeCase(key);
    return std::string(key);
}

OrderedJson Encoder::number(double value) const
{
    if (std::isnan(value))
        invalidValue(QString::fromUtf8(texts::nonFiniteNumber).arg(QStringLiteral("NaN")));
    if (std::isinf(value))
        invalidValue(QString::fromUtf8(texts::nonFiniteNumber).arg(value > 0 ? QStringLiteral("infinity") : QStringLiteral("-infinity")));
    if (value == std::trunc(value) && value > -kIntegerLimit && value < kIntegerLimit)
        return OrderedJson(static_cast<std::int64_t>(value));
    return OrderedJson(value);
}

void Encoder::invalidValue(const QString& description) const
{
    throw EncodingError(codingPath(), description);
}

CodingPath Encoder::codingPath() const
{
    CodingPath path;
    for (const Step& step : path_) {
        if (step.index >= 0)
            path.appendIndex(step.index);
        else if (step.entryKey)
            path.appendKey(*step.entryKey);
        else
            path.appendKey(QString::fromUtf8(step.fieldKey.data(), qsizetype(step.fieldKey.size())));
    }
    return path;
}

CodingPath Decoder::codingPath() const
{
    std::vector<const Decoder*> chain;
    for (const Decoder* d = this; d && d->parent_; d = d->parent_)
        chain.push_back(d);
    CodingPath path;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        if ((*it)->index_ >= 0)
            path.appendIndex((*it)->index_);
        else
            path.appendKey(QString::fromUtf8((*it)->key_.data(), qsizetype((*it)->key_.size())));
    }
    return path;
}

void Decoder::expectObject() const
{
    if (!value_->is_object())
        wrongValue("Dictionary");
}

void Decoder::expectArray() const
{
    if (!value_->is_array())
        wrongValue("Array");
}

bool Decoder::contains(std::string_view key) const
{
    expectObject();
    return value_->find(key) != value_->end();
}

bool Decoder::containsValue(std::string_view key) const
{
    expectObject();
    const auto it = value_->find(key);
    return it != value_->end() && !it->is_null();
}

Decoder Decoder::child(std::string_view key) const
{
    expectObject();
    const auto it = value_->find(key);
    if (it == value_->end())
        keyNotFound(key);
    Decoder decoder(*it, this, key, -1);
    decoder.checkDepth();
    return decoder;
}

Decoder Decoder::element(std::size_t index) const
{
    Decoder decoder((*value_)[index], this, {}, qsizetype(index));
    decoder.checkDepth();
    return decoder;
}

void Decoder::checkDepth() const
{
    if (depth_ > kMaxDepth)
        dataCorrupted(QString::fromUtf8(texts::nestedTooDeep).arg(kMaxDepth));
}

void Decoder::typeMismatch(const char* expectedType) const
{
    throw DecodingError(DecodingError::Kind::typeMismatch, codingPath(),
                        QStringLiteral("Expected to decode %1 but found %2 instead.")
                            .arg(QLatin1String(expectedType), QLatin1String(foundDescription(*value_))));
}

void Decoder::valueNotFound(const char* expectedType) const
{
    throw DecodingError(DecodingError::Kind::valueNotFound, codingPath(),
                        QStringLiteral("Expected %1 value but found null instead.").arg(QLatin1String(expectedType)));
}

void Decoder::dataCorrupted(const QString& description) const
{
    throw DecodingError(DecodingError::Kind::dataCorrupted, codingPath(), description);
}

void Decoder::keyNotFound(std::string_view key) const
{
    CodingPath path = codingPath();
    const QString name = QString::fromUtf8(key.data(), qsizetype(key.size()));
    path.appendKey(name);
    throw DecodingError(DecodingError::Kind::keyNotFound, path,
                        QStringLiteral("No value associated with key \"%1\".").arg(name));
}

void Decoder::wrongValue(const char* expectedType) const
{
    if (value_->is_null())
        valueNotFound(expectedType);
    typeMismatch(expectedType);
}

OrderedJson encodeValue(Encoder&, const QString& value)
{
    return OrderedJson(value.toStdString());
}

OrderedJson encodeValue(Encoder&, bool value)
{
    return OrderedJson(value);
}

OrderedJson encodeValue(Encoder&, qint64 value)
{
    return OrderedJson(static_cast<std::int64_t>(value));
}

OrderedJson encodeValue(Encoder& encoder, float value)
{
    if (!std::isfinite(value))
        return encoder.number(double(value));
    char text[32];
    const auto written = std::to_chars(text, text + sizeof text, value);
    double shortest = 0;
    std::from_chars(text, written.ptr, shortest);
    return encoder.number(shortest);
}

OrderedJson encodeValue(Encoder& encoder, double value)
{
    return encoder.number(value);
}

OrderedJson encodeValue(Encoder&, const QByteArray& value)
{
    return OrderedJson(value.toBase64().toStdString());
}

QString decodeValue(const Decoder& decoder, Tag<QString>)
{
    if (!decoder.json().is_string())
        decoder.wrongValue("String");
    return QString::fromStdString(decoder.json().get_ref<const std::string&>());
}

bool decodeValue(const Decoder& decoder, Tag<bool>)
{
    if (!decoder.json().is_boolean())
        decoder.wrongValue("Bool");
    return decoder.json().get<bool>();
}

qint64 decodeValue(const Decoder& decoder, Tag<qint64>)
{
    const Json& json = decoder.json();
    switch (json.type()) {
    case Json::value_t::number_integer:
        return json.get<std::int64_t>();
    case Json::value_t::number_unsigned: {
        const auto value = json.get<std::uint64_t>();
        if (value > std::uint64_t(std::numeric_limits<qint64>::max()))
            break;
        return qint64(value);
    }
    case Json::value_t::number_float: {
        const double value = json.get<double>();
        if (value != std::trunc(value) || value < -kIntegerLimit || value >= kIntegerLimit)
            break;
        return qint64(value);
    }
    default:
        decoder.wrongValue("Int64");
    }
    decoder.dataCorrupted(QStringLiteral("Parsed JSON number <%1> does not fit in Int64.").arg(numberText(json)));
}

double decodeValue(const Decoder& decoder, Tag<double>)
{
    if (!decoder.json().is_number())
        decoder.wrongValue("Double");
    return decoder.json().get<double>();
}

QByteArray decodeValue(const Decoder& decoder, Tag<QByteArray>)
{
    const QString text = decoder.decode<QString>();
    auto result = QByteArray::fromBase64Encoding(text.toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    // Latin-1 folding would let non-ASCII characters pass as something else.
    bool ascii = true;
    for (QChar c : text)
        ascii = ascii && c.unicode() < 0x80;
    if (!result || !ascii)
        decoder.dataCorrupted(QString::fromUtf8(texts::invalidBase64));
    return std::move(*result);
}

Json parse(QByteArrayView bytes)
{
    try {
        return Json::parse(bytes.begin(), bytes.end());
    } catch (const Json::exception& error) {
        throw DecodingError(DecodingError::Kind::dataCorrupted, CodingPath(), QString::fromUtf8(texts::invalidJson),
                            QString::fromUtf8(error.what()));
    }
}

QByteArray serialize(const OrderedJson& json)
{
    return QByteArray::fromStdString(json.dump(-1, ' ', false, OrderedJson::error_handler_t::replace));
}

} // namespace gemini::coding
