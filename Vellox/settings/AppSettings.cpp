#include "Vellox/settings/AppSettings.h"

#include "Vellox/settings/ModelRegistry.h"
#include "Vellox/settings/ToneId.h"

#include <nlohmann/json.hpp>

#include <QSet>

#include <algorithm>

using nlohmann::json;

namespace {

namespace Key {
const char* const enabled = "enabled";
const char* const tonePresets = "tonePresets";
const char* const defaultTonePresetId = "defaultTonePresetId";
const char* const askToneEachTime = "askToneEachTime";
const char* const askAICommandEachTime = "askAICommandEachTime";
const char* const silentRewrite = "silentRewrite";
const char* const provider = "provider";
const char* const model = "model";
const char* const apiBaseURL = "apiBaseURL";
// Read from older settings, never written.
const char* const legacyAskCustomInstructionEachTime = "askCustomInstructionEachTime";
const char* const legacyDefaultTone = "defaultTone";
} // namespace Key

namespace PresetKey {
const char* const id = "id";
const char* const name = "name";
const char* const instruction = "instruction";
} // namespace PresetKey

// The built-in that older settings called "Assertive" is now "Confident".
const char* const kLegacyAssertiveName = "Assertive";
const char* const kAssertiveName = "Confident";

struct DecodeFailure {};

// A key that is missing or null counts as absent.
const json* present(const json& object, const char* key)
{
    const auto it = object.find(key);
    if (it == object.end() || it->is_null())
        return nullptr;
    return &*it;
}

std::optional<bool> readBool(const json& object, const char* key)
{
    const json* value = present(object, key);
    if (!value)
        return std::nullopt;
    // A number is not a Boolean here, not even 0 or 1.
    if (!value->is_boolean())
        throw DecodeFailure{};
    return value->get<bool>();
}

QString toQString(const json& value)
{
    if (!value.is_string())
        throw DecodeFailure{};
    return QString::fromStdString(value.get_ref<const std::string&>());
}

std::optional<QString> readString(const json& object, const char* key)
{
    const json* value = present(object, key);
    if (!value)
        return std::nullopt;
    return toQString(*value);
}

QUuid toUuid(const json& value)
{
    const std::optional<QUuid> id = TonePreset::idFromText(toQString(value));
    if (!id)
        throw DecodeFailure{};
    return *id;
}

// Each preset needs all three keys; null is as bad as missing.
TonePreset toPreset(const json& value)
{
    if (!value.is_object())
        throw DecodeFailure{};
    auto required = [&](const char* key) -> const json& {
        const json* member = present(value, key);
        if (!member)
            throw DecodeFailure{};
        return *member;
    };
    TonePreset preset;
    preset.id = toUuid(required(PresetKey::id));
    preset.name = toQString(required(PresetKey::name));
    preset.instruction = toQString(required(PresetKey::instruction));
    return preset;
}

std::optional<QList<TonePreset>> readPresets(const json& object, const char* key)
{
    const json* value = present(object, key);
    if (!value)
        return std::nullopt;
    if (!value->is_array())
        throw DecodeFailure{};
    QList<TonePreset> presets;
    presets.reserve(static_cast<qsizetype>(value->size()));
    for (const json& element : *value)
        presets.append(toPreset(element));
    return presets;
}

const QUuid& firstBuiltInId()
{
    return TonePreset::builtIns().first().id;
}

// Keys are read in a fixed order, and a key the order never reaches is never
// looked at: a stale legacy value next to current ones cannot fail the record.
AppSettings decode(const json& object)
{
    if (!object.is_object())
        throw DecodeFailure{};

    AppSettings settings;
    if (auto v = readBool(object, Key::enabled))
        settings.enabled = *v;
    if (auto v = readBool(object, Key::askToneEachTime))
        settings.askToneEachTime = *v;
    if (auto v = readBool(object, Key::askAICommandEachTime))
        settings.askAICommandEachTime = *v;
    else if (auto legacy = readBool(object, Key::legacyAskCustomInstructionEachTime))
        settings.askAICommandEachTime = *legacy;
    if (auto v = readBool(object, Key::silentRewrite))
        settings.silentRewrite = *v;
    if (auto v = readString(object, Key::provider)) {
        const std::optional<ProviderId> provider = ProviderId::fromRawValue(*v);
        if (!provider)
            throw DecodeFailure{};
        settings.provider = *provider;
    }
    if (auto v = readString(object, Key::model))
        settings.model = *v;
    if (auto v = readString(object, Key::apiBaseURL))
        settings.apiBaseURL = *v;

    const std::optional<QList<TonePreset>> storedPresets = readPresets(object, Key::tonePresets);
    std::optional<QUuid> storedDefaultId;
    if (storedPresets) {
        if (const json* id = present(object, Key::defaultTonePresetId))
            storedDefaultId = toUuid(*id);
        if (storedDefaultId) {
            settings.tonePresets = storedPresets->isEmpty() ? TonePreset::builtIns() : *storedPresets;
            settings.defaultTonePresetId = *storedDefaultId;
            return settings;
        }
    }

    if (auto toneName = readString(object, Key::legacyDefaultTone)) {
        const std::optional<ToneId> tone = ToneId::fromRawValue(*toneName);
        if (!tone)
            throw DecodeFailure{};
        settings.tonePresets = TonePreset::builtIns();
        settings.defaultTonePresetId = TonePreset::idForLegacy(*tone).value_or(firstBuiltInId());
        return settings;
    }

    settings.tonePresets = storedPresets.value_or(TonePreset::builtIns());
    if (!storedPresets) {
        if (const json* id = present(object, Key::defaultTonePresetId))
            storedDefaultId = toUuid(*id);
    }
    settings.defaultTonePresetId = storedDefaultId.value_or(firstBuiltInId());
    return settings;
}

std::string utf8(const QString& text)
{
    return text.toStdString();
}

} // namespace

std::optional<AppSettings> AppSettings::fromJson(const QByteArray& data)
{
    const json document = json::parse(data.cbegin(), data.cend(), nullptr, /*allow_exceptions=*/false);
    if (document.is_discarded())
        return std::nullopt;
    try {
        return decode(document);
    } catch (const DecodeFailure&) {
        return std::nullopt;
    }
}

QByteArray AppSettings::toJson() const
{
    json presets = json::array();
    for (const TonePreset& preset : tonePresets) {
        presets.push_back({{PresetKey::id, utf8(TonePreset::idText(preset.id))},
                           {PresetKey::name, utf8(preset.name)},
                           {PresetKey::instruction, utf8(preset.instruction)}});
    }
    const json object = {
        {Key::enabled, enabled},
        {Key::tonePresets, std::move(presets)},
        {Key::defaultTonePresetId, utf8(TonePreset::idText(defaultTonePresetId))},
        {Key::askToneEachTime, askToneEachTime},
        {Key::askAICommandEachTime, askAICommandEachTime},
        {Key::silentRewrite, silentRewrite},
        {Key::provider, utf8(provider.rawValue())},
        {Key::model, utf8(model)},
        {Key::apiBaseURL, utf8(apiBaseURL)},
    };
    // Replacing rather than throwing keeps encoding infallible even for text
    // that is not valid UTF-8.
    return QByteArray::fromStdString(object.dump(-1, ' ', false, json::error_handler_t::replace));
}

void AppSettings::setAskToneEachTime(bool on)
{
    askToneEachTime = on;
    if (on)
        askAICommandEachTime = false;
}

void AppSettings::setAskAICommandEachTime(bool on)
{
    askAICommandEachTime = on;
    if (on)
        askToneEachTime = false;
}

void AppSettings::useDefaultTone(const QUuid& id)
{
    defaultTonePresetId = id;
    askToneEachTime = false;
    askAICommandEachTime = false;
}

void AppSettings::normalizeToBuiltInToneCatalog()
{
    const QList<TonePreset>& builtIns = TonePreset::builtIns();

    QSet<QUuid> storedIds;
    for (const TonePreset& preset : tonePresets)
        storedIds.insert(preset.id);
    QSet<QUuid> builtInIds;
    for (const TonePreset& preset : builtIns)
        builtInIds.insert(preset.id);
    // The user's own order, names and instructions of the built-ins survive.
    if (tonePresets.size() == builtIns.size() && storedIds == builtInIds) {
        ensureValidDefaultTone();
        return;
    }

    auto nameOf = [&](const QList<TonePreset>& list) -> std::optional<QString> {
        for (const TonePreset& preset : list) {
            if (preset.id == defaultTonePresetId)
                return preset.name;
        }
        return std::nullopt;
    };
    std::optional<QString> defaultName = nameOf(tonePresets);
    if (!defaultName)
        defaultName = nameOf(builtIns);
    if (defaultName == QLatin1String(kLegacyAssertiveName))
        defaultName = QString::fromLatin1(kAssertiveName);

    tonePresets = builtIns;

    const TonePreset* byName = nullptr;
    if (defaultName) {
        for (const TonePreset& preset : builtIns) {
            if (preset.name == *defaultName) {
                byName = &preset;
                break;
            }
        }
    }
    if (byName)
        defaultTonePresetId = byName->id;
    else if (!builtInIds.contains(defaultTonePresetId))
        defaultTonePresetId = firstBuiltInId();

    ensureValidDefaultTone();
}

void AppSettings::ensureValidDefaultTone()
{
    const bool found = std::any_of(tonePresets.cbegin(), tonePresets.cend(),
                                   [&](const TonePreset& preset) { return preset.id == defaultTonePresetId; });
    if (!found)
        defaultTonePresetId = tonePresets.isEmpty() ? firstBuiltInId() : tonePresets.first().id;
    if (tonePresets.isEmpty()) {
        tonePresets = TonePreset::builtIns();
        defaultTonePresetId = firstBuiltInId();
    }
}

QList<TonePreset> AppSettings::tonePresetsWithDefaultFirst() const
{
    const auto defaultPreset = std::find_if(tonePresets.cbegin(), tonePresets.cend(),
                                            [&](const TonePreset& preset) { return preset.id == defaultTonePresetId; });
    if (defaultPreset == tonePresets.cend())
        return tonePresets;
    QList<TonePreset> ordered;
    ordered.reserve(tonePresets.size());
    ordered.append(*defaultPreset);
    // A duplicated default id is listed once.
    for (const TonePreset& preset : tonePresets) {
        if (preset.id != defaultTonePresetId)
            ordered.append(preset);
    }
    return ordered;
}

void AppSettings::applyDeprecatedModelMigrations()
{
    if (std::optional<QString> replacement = ModelRegistry::replacementForRetiredModel(provider, model))
        model = *replacement;
}
