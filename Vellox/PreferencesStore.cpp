#include "Vellox/PreferencesStore.h"

#include "platform/Defaults.h"
#include "platform/Platform.h"

#include <QByteArray>
#include <QVariant>

namespace {

PreferencesStore* sharedInstance = nullptr;

platform::Defaults& defaults()
{
    return *platform::Platform::current().defaults;
}

// Only a data value holds settings; anything else under the key counts as
// nothing stored.
std::optional<QByteArray> storedSettingsData()
{
    const QVariant value = defaults().value(QString::fromLatin1(PreferencesStore::settingsKey));
    if (value.typeId() != QMetaType::QByteArray)
        return std::nullopt;
    return value.toByteArray();
}

// The next assignment replaces the stored settings wholesale, so settings that
// this version cannot read (a damaged file, or a newer version's format) would
// be lost without a copy.
void keepUnreadable(const QByteArray& data)
{
    const QString backupKey = QString::fromLatin1(PreferencesStore::unreadableSettingsKey);
    const QVariant existing = defaults().value(backupKey);
    if (existing.typeId() == QMetaType::QByteArray && existing.toByteArray() == data)
        return;
    defaults().setValue(backupKey, data);
}

// Both ask switches on is contradictory; the tone picker wins.
void resolveAskSwitches(AppSettings& settings)
{
    if (settings.askToneEachTime && settings.askAICommandEachTime)
        settings.askAICommandEachTime = false;
}

const char* const kReplacementForMockModel = "gpt-4o-mini";

} // namespace

PreferencesStore& PreferencesStore::shared()
{
    // Kept until exit on purpose: the store outlives every window and handler.
    if (!sharedInstance)
        sharedInstance = new PreferencesStore();
    return *sharedInstance;
}

void PreferencesStore::resetSharedForTesting()
{
    delete sharedInstance;
    sharedInstance = nullptr;
}

PreferencesStore::PreferencesStore()
{
    const QString historyKey = QString::fromLatin1(legacyHistoryKey);
    // Removing an absent key would still cost a write of the defaults file.
    if (defaults().contains(historyKey))
        defaults().remove(historyKey);
    // Only readSettings() may write here; the first value is not persisted.
    settings_ = readSettings();
}

void PreferencesStore::setSettings(const AppSettings& settings)
{
    emit settingsAboutToChange();
    settings_ = settings;
    persistSettings(settings_);
    emit settingsChanged();
}

void PreferencesStore::updateSettings(const std::function<void(AppSettings&)>& mutation)
{
    AppSettings copy = settings_;
    mutation(copy);
    resolveAskSwitches(copy);
    copy.ensureValidDefaultTone();
    setSettings(copy);
}

AppSettings PreferencesStore::readSettings()
{
    const std::optional<QByteArray> data = storedSettingsData();
    if (!data)
        return AppSettings();

    const std::optional<AppSettings> decoded = AppSettings::fromJson(*data);
    if (!decoded) {
        keepUnreadable(*data);
        return AppSettings();
    }

    AppSettings repaired = *decoded;
    // Users never reach the mock provider; stored settings that name it are
    // moved to the default provider and model.
    if (repaired.provider == ProviderId::mock) {
        repaired.provider = ProviderId::openaiCompatible;
        repaired.model = QString::fromLatin1(kReplacementForMockModel);
    }
    repaired.applyDeprecatedModelMigrations();
    repaired.normalizeToBuiltInToneCatalog();
    repaired.ensureValidDefaultTone();
    resolveAskSwitches(repaired);

    if (repaired != *decoded)
        persistSettings(repaired);
    return repaired;
}

void PreferencesStore::persistSettings(const AppSettings& settings)
{
    defaults().setValue(QString::fromLatin1(settingsKey), settings.toJson());
}
