#include "DefaultsCodec.h"

#include <QByteArray>
#include <QString>

namespace platform::defaults_codec {

namespace {
constexpr const char* kDataTag = "$data";
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
            object[it.key().toStdString()] = toJson(it.value());
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
            list.append(fromJson(element));
        return list;
    }
    case nlohmann::json::value_t::object: {
        if (json.size() == 1 && json.contains(kDataTag) && json[kDataTag].is_string())
            return QByteArray::fromBase64(QByteArray::fromStdString(json[kDataTag].get<std::string>()));
        QVariantMap map;
        for (auto it = json.begin(); it != json.end(); ++it)
            map.insert(QString::fromStdString(it.key()), fromJson(it.value()));
        return map;
    }
    default:
        return {};
    }
}

QVariantMap parseFile(const QByteArray& text)
{
    const auto json = nlohmann::json::parse(text.constBegin(), text.constEnd());
    if (!json.is_object())
        throw nlohmann::json::type_error::create(302, "defaults file is not a JSON object", &json);
    return fromJson(json).toMap();
}

QByteArray serializeFile(const QVariantMap& values)
{
    return QByteArray::fromStdString(toJson(values).dump(2)) + '\n';
}

} // namespace platform::defaults_codec
