#pragma once

#include "Vellox/settings/AppSettings.h"

#include <QObject>

#include <functional>

// Owns the current settings for the running process, publishes every change
// and writes each assigned record to the user defaults at once. Lives on the
// main thread; readSettings() may be called from any thread.
//
// Observers get settingsAboutToChange() before each assignment takes effect
// and settingsChanged() after it has been stored. Both fire on every
// assignment, even when the new record equals the old one.
class PreferencesStore final : public QObject {
    Q_OBJECT
    Q_PROPERTY(AppSettings settings READ settings WRITE setSettings NOTIFY settingsChanged)

public:
    static PreferencesStore& shared();
    // Drops the shared instance so the next shared() builds a fresh one
    // against the platform installed at that time. Tests only.
    static void resetSharedForTesting();

    const AppSettings& settings() const { return settings_; }
    void setSettings(const AppSettings& settings);

    // Runs `mutation` on a copy of the settings, keeps only the tone picker
    // when both ask switches end up on, makes the default tone valid and
    // assigns the result.
    void updateSettings(const std::function<void(AppSettings&)>& mutation);

    // The stored record, migrated and repaired, or the default record when
    // nothing readable is stored. Writes the repaired record back only when
    // the repairs changed it. Does not touch the shared instance.
    static AppSettings readSettings();

    static constexpr const char* settingsKey = "vellox.settings";
    // Where undecodable stored settings are kept before anything can
    // overwrite them.
    static constexpr const char* unreadableSettingsKey = "vellox.settings.unreadable";
    // A value of an earlier version, removed when the store is created.
    static constexpr const char* legacyHistoryKey = "vellox.history";

signals:
    void settingsAboutToChange();
    void settingsChanged();

private:
    PreferencesStore();

    static void persistSettings(const AppSettings& settings);

    AppSettings settings_;
};
