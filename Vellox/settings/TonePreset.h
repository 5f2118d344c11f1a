#pragma once

#include "Vellox/settings/ToneId.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringView>
#include <QUuid>

#include <optional>

// One rewrite tone: an id, the name the user sees and the one-sentence
// instruction sent to the provider.
struct TonePreset {
    QUuid id;
    QString name;
    QString instruction;

    // The eighteen built-in presets in catalogue order. Their ids are fixed:
    // stored settings refer to them.
    static const QList<TonePreset>& builtIns();
    // The symbol name of each built-in, by id.
    static const QHash<QUuid, QString>& builtinSystemImageById();
    // The built-in preset that a legacy tone name stood for.
    static std::optional<QUuid> idForLegacy(ToneId legacy);

    // The legacy tone whose built-in shares this preset's id, if any; name and
    // instruction play no part.
    std::optional<ToneId> legacyToneId() const;

    // The name of the symbol shown beside this preset in menus: the built-in's
    // symbol, else one chosen by a keyword of the name, else one derived from
    // the id so it never changes between launches.
    QString menuSystemImage() const;

    // Id text as stored: exactly 36 characters, hyphens at the usual places,
    // hex digits in either case, no braces. The nil UUID is valid text.
    static std::optional<QUuid> idFromText(QStringView text);
    // The 36-character upper-case form.
    static QString idText(const QUuid& id);

    friend bool operator==(const TonePreset&, const TonePreset&) = default;
};

size_t qHash(const TonePreset& preset, size_t seed = 0) noexcept;
