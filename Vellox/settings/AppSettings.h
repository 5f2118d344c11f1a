#pragma once

#include "Vellox/settings/ProviderId.h"
#include "Vellox/settings/TonePreset.h"

#include <QByteArray>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QUuid>

#include <optional>

// The user's settings as one value. A default-constructed record is the
// default record: what an empty stored object decodes to.
struct AppSettings {
    bool enabled = true;
    QList<TonePreset> tonePresets = TonePreset::builtIns();
    QUuid defaultTonePresetId = TonePreset::builtIns().first().id;
    bool askToneEachTime = false;
    bool askAICommandEachTime = false;
    bool silentRewrite = false;
    ProviderId provider = ProviderId::openaiCompatible;
    QString model = QStringLiteral("gpt-4o-mini");
    // Empty means the provider's own default.
    QString apiBaseURL;

    // Decodes the stored JSON. A missing or null key takes its default; a key
    // of the wrong type, an unknown provider or tone name, or a malformed
    // preset or id fails the whole record. The result is not yet repaired:
    // the preferences store migrates and normalises it.
    static std::optional<AppSettings> fromJson(const QByteArray& json);
    // Compact JSON with the nine current keys and upper-case ids; never fails.
    QByteArray toJson() const;

    // A rewrite takes its instruction one way: it asks for a tone, asks for a
    // described edit, or uses the default tone. Turning one on turns the
    // others off.
    void setAskToneEachTime(bool on);
    void setAskAICommandEachTime(bool on);
    void useDefaultTone(const QUuid& id);

    // Replaces the presets by the built-in catalogue unless they hold exactly
    // the built-in ids, keeping the chosen default by name where it can.
    void normalizeToBuiltInToneCatalog();
    // Makes the preset list non-empty and the default id one of its ids.
    void ensureValidDefaultTone();
    // Display order: the default first, then the rest in stored order.
    QList<TonePreset> tonePresetsWithDefaultFirst() const;
    // Replaces a retired model identifier by its provider's replacement.
    void applyDeprecatedModelMigrations();

    friend bool operator==(const AppSettings&, const AppSettings&) = default;
};

Q_DECLARE_METATYPE(AppSettings)
