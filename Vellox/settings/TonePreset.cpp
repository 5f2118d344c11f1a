#include "Vellox/settings/TonePreset.h"

#include <QByteArray>

#include <cstdint>
#include <iterator>

namespace {

struct BuiltIn {
    const char16_t* id;
    const char16_t* name;
    const char16_t* instruction;
    const char16_t* symbol;
};

// The ids count in decimal inside the last group (…010, not …00A).
const BuiltIn kBuiltIns[] = {
    {u"00000000-0000-4000-8000-000000000001", u"Professional",
     u"Rewrite in a clear, polished professional tone. Stay respectful and precise.", u"briefcase.fill"},
    {u"00000000-0000-4000-8000-000000000002", u"Casual", u"Rewrite in a relaxed, conversational voice.",
     u"cup.and.saucer.fill"},
    {u"00000000-0000-4000-8000-000000000003", u"Friendly",
     u"Rewrite warmly and approachably without sounding salesy.", u"face.smiling.fill"},
    {u"00000000-0000-4000-8000-000000000004", u"Concise",
     u"Shorten aggressively; keep every essential fact; cut filler.", u"arrow.down.right.and.arrow.up.left"},
    {u"00000000-0000-4000-8000-000000000005", u"Confident",
     u"Rewrite with decisive wording; remove unnecessary hedges.", u"checkmark.seal.fill"},
    {u"00000000-0000-4000-8000-000000000006", u"Persuasive",
     u"Rewrite to persuade: stress benefits and credibility; no invented claims.", u"megaphone.fill"},
    {u"00000000-0000-4000-8000-000000000007", u"Empathetic",
     u"Rewrite with empathy; acknowledge the reader\u2019s context; stay sincere.", u"heart.fill"},
    {u"00000000-0000-4000-8000-000000000008", u"Direct", u"Rewrite plainly and bluntly; minimal padding.",
     u"arrow.up.forward"},
    {u"00000000-0000-4000-8000-000000000009", u"Polite",
     u"Rewrite courteously with careful, considerate phrasing.", u"hand.wave.fill"},
    {u"00000000-0000-4000-8000-000000000010", u"Formal", u"Rewrite in traditional formal business register.",
     u"building.columns.fill"},
    {u"00000000-0000-4000-8000-000000000011", u"Playful",
     u"Rewrite with light, good-natured humor where appropriate.", u"party.popper.fill"},
    {u"00000000-0000-4000-8000-000000000012", u"Technical",
     u"Rewrite for an expert reader; precise terminology; no oversimplification.", u"cpu.fill"},
    {u"00000000-0000-4000-8000-000000000013", u"Simplified",
     u"Rewrite for a general audience: plain words, short sentences.", u"book.fill"},
    {u"00000000-0000-4000-8000-000000000014", u"Executive Summary",
     u"Rewrite as a tight executive brief: lead with outcomes; tight structure.", u"chart.bar.fill"},
    {u"00000000-0000-4000-8000-000000000015", u"Sales Pitch",
     u"Rewrite as energetic sales copy with a clear call to action; keep facts accurate.",
     u"dollarsign.circle.fill"},
    {u"00000000-0000-4000-8000-000000000016", u"Neutral",
     u"Rewrite in a neutral, balanced tone; avoid strong stance.", u"scalemass.fill"},
    {u"00000000-0000-4000-8000-000000000017", u"Instructional",
     u"Rewrite as clear step-by-step guidance when possible.", u"list.number"},
    {u"00000000-0000-4000-8000-000000000018", u"Support",
     u"Rewrite as helpful customer-support tone: calm, solution-focused.", u"headphones"},
};

static_assert(std::size(kBuiltIns) == 18);

struct Keyword {
    const char16_t* keyword;
    const char16_t* symbol;
};

// Matched as substrings of the lower-cased name, first row wins, so the order
// matters ("sales" must come before "email"). Stems such as "simplif" match
// every word built on them.
const Keyword kKeywords[] = {
    {u"professional", u"briefcase.fill"},
    {u"business", u"briefcase.fill"},
    {u"formal", u"building.columns.fill"},
    {u"executive", u"chart.bar.fill"},
    {u"summary", u"doc.text.fill"},
    {u"brief", u"arrow.down.right.and.arrow.up.left"},
    {u"concise", u"arrow.down.right.and.arrow.up.left"},
    {u"tight", u"arrow.down.right.and.arrow.up.left"},
    {u"short", u"arrow.down.to.line"},
    {u"casual", u"cup.and.saucer.fill"},
    {u"relaxed", u"cup.and.saucer.fill"},
    {u"friendly", u"face.smiling.fill"},
    {u"warm", u"sun.max.fill"},
    {u"playful", u"party.popper.fill"},
    {u"humor", u"face.smiling.inverse"},
    {u"joke", u"face.smiling.inverse"},
    {u"confident", u"checkmark.seal.fill"},
    {u"assert", u"checkmark.seal.fill"},
    {u"direct", u"arrow.up.forward"},
    {u"blunt", u"arrow.up.forward"},
    {u"plain", u"text.alignleft"},
    {u"simple", u"leaf.fill"},
    {u"simplif", u"book.fill"},
    {u"persuad", u"megaphone.fill"},
    {u"pitch", u"megaphone.fill"},
    {u"sell", u"bag.fill"},
    {u"sales", u"dollarsign.circle.fill"},
    {u"empathy", u"heart.fill"},
    {u"kind", u"heart.fill"},
    {u"polite", u"hand.wave.fill"},
    {u"courtesy", u"hand.wave.fill"},
    {u"technical", u"cpu.fill"},
    {u"engineer", u"wrench.and.screwdriver.fill"},
    {u"legal", u"scalemass.fill"},
    {u"neutral", u"scalemass.fill"},
    {u"balanced", u"scalemass.fill"},
    {u"instruction", u"list.number"},
    {u"tutorial", u"graduationcap.fill"},
    {u"step", u"figure.walk"},
    {u"support", u"headphones"},
    {u"help", u"questionmark.circle.fill"},
    {u"care", u"heart.fill"},
    {u"poem", u"pencil.and.scribble"},
    {u"story", u"book.fill"},
    {u"email", u"envelope.fill"},
    {u"tweet", u"bird.fill"},
    {u"urgent", u"flame.fill"},
    {u"calm", u"moon.fill"},
    {u"wise", u"eyeglasses"},
    {u"witty", u"sparkles"},
};

static_assert(std::size(kKeywords) == 50);

const char16_t* const kFallbackSymbols[] = {
    u"text.cursor", u"pencil", u"quote.opening", u"signature", u"textformat", u"character.cursor.ibeam",
    u"globe", u"doc.text", u"envelope", u"bubble.left", u"paperplane", u"at", u"number", u"asterisk",
    u"sparkles", u"lightbulb.fill", u"brain.head.profile", u"puzzlepiece.fill", u"paintbrush.fill",
    u"highlighter", u"eyeglasses", u"person.fill",
};
static_assert(std::size(kFallbackSymbols) == 22);

constexpr std::uint32_t kHashSeed = 5381;
constexpr std::uint32_t kHashMultiplier = 33;

// The first five built-ins are the ones the legacy tone names refer to, in
// the order of ToneId.
constexpr qsizetype kLegacyToneCount = 5;

} // namespace

const QList<TonePreset>& TonePreset::builtIns()
{
    static const QList<TonePreset> presets = [] {
        QList<TonePreset> list;
        for (const BuiltIn& builtIn : kBuiltIns) {
            list.append(TonePreset{*idFromText(QStringView(builtIn.id)), QString::fromUtf16(builtIn.name),
                                   QString::fromUtf16(builtIn.instruction)});
        }
        return list;
    }();
    return presets;
}

const QHash<QUuid, QString>& TonePreset::builtinSystemImageById()
{
    static const QHash<QUuid, QString> symbols = [] {
        QHash<QUuid, QString> map;
        const QList<TonePreset>& presets = builtIns();
        for (qsizetype i = 0; i < presets.size(); ++i)
            map.insert(presets[i].id, QString::fromUtf16(kBuiltIns[i].symbol));
        return map;
    }();
    return symbols;
}

std::optional<QUuid> TonePreset::idForLegacy(ToneId legacy)
{
    const qsizetype index = ToneId::allCases().indexOf(legacy);
    if (index < 0 || index >= kLegacyToneCount)
        return std::nullopt;
    return builtIns().at(index).id;
}

std::optional<ToneId> TonePreset::legacyToneId() const
{
    for (ToneId tone : ToneId::allCases()) {
        if (idForLegacy(tone) == id)
            return tone;
    }
    return std::nullopt;
}

QString TonePreset::menuSystemImage() const
{
    const auto builtIn = builtinSystemImageById().constFind(id);
    if (builtIn != builtinSystemImageById().constEnd())
        return builtIn.value();

    const QString lowered = name.toLower();
    for (const Keyword& row : kKeywords) {
        if (lowered.contains(QStringView(row.keyword)))
            return QString::fromUtf16(row.symbol);
    }

    // djb2 over the stored id text, so a custom preset keeps its symbol
    // across launches and machines.
    std::uint32_t hash = kHashSeed;
    for (const char byte : idText(id).toUtf8())
        hash = hash * kHashMultiplier + static_cast<unsigned char>(byte);
    return QString::fromUtf16(kFallbackSymbols[hash % std::size(kFallbackSymbols)]);
}

std::optional<QUuid> TonePreset::idFromText(QStringView text)
{
    constexpr qsizetype kUuidTextLength = 36;
    if (text.size() != kUuidTextLength)
        return std::nullopt;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        const bool hyphenSlot = i == 8 || i == 13 || i == 18 || i == 23;
        const bool hex = (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
        if (hyphenSlot ? c != u'-' : !hex)
            return std::nullopt;
    }
    return QUuid::fromString(text);
}

QString TonePreset::idText(const QUuid& id)
{
    return id.toString(QUuid::WithoutBraces).toUpper();
}

size_t qHash(const TonePreset& preset, size_t seed) noexcept
{
    return qHashMulti(seed, preset.id, preset.name, preset.instruction);
}
