#include "DefaultsCodec.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace platform::defaults_codec {

namespace {

constexpr const char* kDataTag = "$data";
// Decoding recurses once per level; a deeper file is treated as corrupt
// instead of exhausting the stack.
constexpr int kMaxDepth = 256;

// A dictionary key that starts with "$" is written with one more "$", so no
// dictionary ever looks like the data tag. Files written before the escape
// hold such keys plain; they read back unchanged unless they start with "$$".
std::string escapedKey(const QString& key)
{
    return (key.startsWith(QLatin1Char('$')) ? QStringLiteral("$") + key : key).toStdString();
}

QString unescapedKey(const std::string& key)
{
    const QString text = QString::fromStdString(key);
    return text.startsWith(QStringLiteral("$$")) ? text.mid(1) : text;
}

// Base64 exactly as the encoder writes it: standard alphabet with padding.
std::optional<QByteArray> strictBase64(const std::string& text)
{
    auto decoded = QByteArray::fromBase64Encoding(QByteArray::fromStdString(text),
                                                  QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || (*decoded).toBase64() != QByteArray::fromStdString(text))
        return std::nullopt;
    return std::move(*decoded);
}

QVariant fromJson(const nlohmann::json& json, int depth)
{
    if (depth > kMaxDepth)
        throw nlohmann::json::out_of_range::create(408, "defaults nest deeper than 256 levels", &json);
    switch (json.type()) {
    case nlohmann::json::value_t::boolean:
        return json.get<bool>();
    case nlohmann::json::value_t::number_integer:
        return QVariant::fromValue<qlonglong>(json.get<std::int64_t>());
    case nlohmann::json::value_t::number_unsigned: {
        const auto v = json.get<std::uint64_t>();
        if (v <= static_cast<std::uint64_t>(std::numeric_limits<qlonglong>::max()))
            return QVariant::fromValue<qlonglong>(static_cast<qlonglong>(v));
        return QVariant::fromValue<qulonglong>(v);
    }
    case nlohmann::json::value_t::number_float:
        return json.get<double>();
    case nlohmann::json::value_t::string:
        return QString::fromStdString(json.get<std::string>());
    case nlohmann::json::value_t::array: {
        QVariantList list;
        for (const auto& element : json)
            list.append(fromJson(element, depth + 1));
        return list;
    }
    case nlohmann::json::value_t::object: {
        // A dictionary written before keys were escaped may look like data;
        // only what the encoder could have written counts as data.
        if (json.size() == 1 && json.contains(kDataTag) && json[kDataTag].is_string()) {
            if (auto data = strictBase64(json[kDataTag].get<std::string>()))
                return *data;
        }
        QVariantMap map;
        for (auto it = json.begin(); it != json.end(); ++it)
            map.insert(unescapedKey(it.key()), fromJson(it.value(), depth + 1));
        return map;
    }
    default:
        return {};
    }
}

} // namespace

nlohmann::json toJson(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::Bool:
        return value.toBool();
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::Short:
    case QMetaType::Long:
        return value.toLongLong();
    case QMetaType::UInt:
    case QMetaType::ULongLong:
    case QMetaType::UShort:
    case QMetaType::ULong:
        return value.toULongLong();
    case QMetaType::Double:
    case QMetaType::Float:
        return value.toDouble();
    case QMetaType::QByteArray:
        return nlohmann::json{{kDataTag, value.toByteArray().toBase64().toStdString()}};
    case QMetaType::QVariantList:
    case QMetaType::QStringList: {
        nlohmann::json array = nlohmann::json::array();
        for (const QVariant& element : value.toList())
            array.push_back(toJson(element));
        return array;
    }
    case QMetaType::QVariantMap: {
        nlohmann::json object = nlohmann::json::object();
        const QVariantMap map = value.toMap();
        for (auto it = map.cbegin(); it != map.cend(); ++it)
            object[escapedKey(it.key())] = toJson(it.value());
        return object;
    }
    case QMetaType::UnknownType:
        return nullptr;
    default:
        return value.toString().toStdString();
    }
}

QVariant fromJson(const nlohmann::json& json)
{
    return fromJson(json, 0);
}

QVariantMap parseFile(const QByteArray& text)
{
    const auto json = nlohmann::json::parse(text.constBegin(), text.constEnd());
    if (!json.is_object())
        throw nlohmann::json::type_error::create(302, "defaults file is not a JSON object", &json);
    // The file itself is always a dictionary, even one that looks like data.
    QVariantMap values;
    for (auto it = json.begin(); it != json.end(); ++it)
        values.insert(unescapedKey(it.key()), fromJson(it.value(), 1));
    return values;
}

QByteArray serializeFile(const QVariantMap& values)
{
    return QByteArray::fromStdString(toJson(values).dump(2)) + '\n';
}

} // namespace platform::defaults_codec
