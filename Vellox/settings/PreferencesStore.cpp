#include "Vellox/settings/PreferencesStore.h"

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

// The next assignment replaces the stored settings wholesale, so settings that
// this version cannot read (a damaged file, a hand-edited value of another
// type, or a newer version's format) would be lost without a copy.
void keepUnreadable(const QVariant& value)
{
    const QString backupKey = QString::fromLatin1(PreferencesStore::unreadableSettingsKey);
    if (defaults().value(backupKey) == value)
        return;
    defaults().setValue(backupKey, value);
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
    const QVariant stored = defaults().value(QString::fromLatin1(settingsKey));
    if (!stored.isValid())
        return AppSettings();
    // Only a data value holds settings; any other value is as unreadable as
    // data that does not decode.
    const std::optional<AppSettings> decoded = stored.typeId() == QMetaType::QByteArray
        ? AppSettings::fromJson(stored.toByteArray())
        : std::nullopt;
    if (!decoded) {
        keepUnreadable(stored);
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
