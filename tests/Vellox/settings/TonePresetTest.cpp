#include "SettingsTestSupport.h"

#include "Vellox/settings/ToneId.h"
#include "Vellox/settings/TonePreset.h"

#include <QSet>

#include <gtest/gtest.h>

using settings_test::builtIn;
using settings_test::customPreset;

TEST(TonePreset, BuiltInCatalogueHasFixedIdsNamesAndSymbols)
{
    struct Case {
        const char* id;
        const char* name;
        const char* instructionStart;
        const char* symbol;
    };
    const Case cases[] = {
        {"00000000-0000-4000-8000-000000000001", "Professional", "Rewrite in a clear, polished", "briefcase.fill"},
        {"00000000-0000-4000-8000-000000000002", "Casual", "Rewrite in a relaxed", "cup.and.saucer.fill"},
        {"00000000-0000-4000-8000-000000000003", "Friendly", "Rewrite warmly", "face.smiling.fill"},
        {"00000000-0000-4000-8000-000000000004", "Concise", "Shorten aggressively",
         "arrow.down.right.and.arrow.up.left"},
        {"00000000-0000-4000-8000-000000000005", "Confident", "Rewrite with decisive", "checkmark.seal.fill"},
        {"00000000-0000-4000-8000-000000000006", "Persuasive", "Rewrite to persuade", "megaphone.fill"},
        {"00000000-0000-4000-8000-000000000007", "Empathetic", "Rewrite with empathy", "heart.fill"},
        {"00000000-0000-4000-8000-000000000008", "Direct", "Rewrite plainly", "arrow.up.forward"},
        {"00000000-0000-4000-8000-000000000009", "Polite", "Rewrite courteously", "hand.wave.fill"},
        {"00000000-0000-4000-8000-000000000010", "Formal", "Rewrite in traditional", "building.columns.fill"},
        {"00000000-0000-4000-8000-000000000011", "Playful", "Rewrite with light", "party.popper.fill"},
        {"00000000-0000-4000-8000-000000000012", "Technical", "Rewrite for an expert", "cpu.fill"},
        {"00000000-0000-4000-8000-000000000013", "Simplified", "Rewrite for a general", "book.fill"},
        {"00000000-0000-4000-8000-000000000014", "Executive Summary", "Rewrite as a tight executive",
         "chart.bar.fill"},
        {"00000000-0000-4000-8000-000000000015", "Sales Pitch", "Rewrite as energetic sales",
         "dollarsign.circle.fill"},
        {"00000000-0000-4000-8000-000000000016", "Neutral", "Rewrite in a neutral", "scalemass.fill"},
        {"00000000-0000-4000-8000-000000000017", "Instructional", "Rewrite as clear step-by-step", "list.number"},
        {"00000000-0000-4000-8000-000000000018", "Support", "Rewrite as helpful customer-support", "headphones"},
    };
    const QList<TonePreset>& presets = TonePreset::builtIns();
    ASSERT_EQ(presets.size(), static_cast<qsizetype>(std::size(cases)));
    QSet<QUuid> ids;
    for (qsizetype i = 0; i < presets.size(); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.name);
        EXPECT_EQ(TonePreset::idText(presets[i].id), QString::fromLatin1(c.id));
        EXPECT_EQ(presets[i].name, QString::fromLatin1(c.name));
        EXPECT_TRUE(presets[i].instruction.startsWith(QString::fromLatin1(c.instructionStart)));
        EXPECT_TRUE(presets[i].instruction.endsWith(u'.'));
        EXPECT_EQ(presets[i].menuSystemImage(), QString::fromLatin1(c.symbol));
        EXPECT_EQ(TonePreset::builtinSystemImageById().value(presets[i].id), QString::fromLatin1(c.symbol));
        ids.insert(presets[i].id);
    }
    EXPECT_EQ(ids.size(), presets.size());
}

TEST(TonePreset, BuiltInInstructionsAreExact)
{
    // Spot checks of whole sentences, including the typographic apostrophe.
    EXPECT_EQ(builtIn(1).instruction,
              u"Rewrite in a clear, polished professional tone. Stay respectful and precise.");
    EXPECT_EQ(builtIn(7).instruction,
              u"Rewrite with empathy; acknowledge the reader\u2019s context; stay sincere.");
    EXPECT_EQ(builtIn(15).instruction,
              u"Rewrite as energetic sales copy with a clear call to action; keep facts accurate.");
    EXPECT_EQ(builtIn(18).instruction, u"Rewrite as helpful customer-support tone: calm, solution-focused.");
}

TEST(TonePreset, LegacyTonesMapToTheFirstFiveBuiltIns)
{
    struct Case {
        const char* name;
        ToneId tone;
        int preset;
    };
    const Case cases[] = {
        {"professional", ToneId::professional, 1}, {"casual", ToneId::casual, 2},
        {"friendly", ToneId::friendly, 3},         {"concise", ToneId::concise, 4},
        {"assertive", ToneId::assertive, 5},
    };
    ASSERT_EQ(ToneId::allCases().size(), static_cast<qsizetype>(std::size(cases)));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.tone.rawValue(), QString::fromLatin1(c.name));
        EXPECT_EQ(ToneId::fromRawValue(QString::fromLatin1(c.name)), c.tone);
        EXPECT_EQ(TonePreset::idForLegacy(c.tone), builtIn(c.preset).id);
        EXPECT_EQ(builtIn(c.preset).legacyToneId(), c.tone);
    }
    EXPECT_EQ(builtIn(5).name, u"Confident");
}

TEST(TonePreset, LegacyToneOfAPresetDependsOnlyOnItsId)
{
    EXPECT_EQ(builtIn(6).legacyToneId(), std::nullopt);
    EXPECT_EQ(customPreset("5D4C1A52-95F4-4E55-9C0B-0B7C4D1F0A11", "Professional").legacyToneId(), std::nullopt);
    TonePreset reused = customPreset("00000000-0000-4000-8000-000000000003", "Mine");
    EXPECT_EQ(reused.legacyToneId(), ToneId::friendly);
}

TEST(TonePreset, UnknownLegacyToneNamesAreRejected)
{
    for (const char* name : {"Professional", "confident", "", " casual"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(ToneId::fromRawValue(QString::fromLatin1(name)), std::nullopt);
    }
}

TEST(TonePreset, IdTextMustBeTheExact36CharacterForm)
{
    struct Case {
        const char* name;
        const char* input;
        bool valid;
    };
    const Case cases[] = {
        {"upper case", "5D4C1A52-95F4-4E55-9C0B-0B7C4D1F0A11", true},
        {"lower case", "5d4c1a52-95f4-4e55-9c0b-0b7c4d1f0a11", true},
        {"mixed case", "5d4C1a52-95F4-4e55-9C0B-0b7c4d1f0A11", true},
        {"nil uuid", "00000000-0000-0000-0000-000000000000", true},
        {"braces", "{5D4C1A52-95F4-4E55-9C0B-0B7C4D1F0A11}", false},
        {"no hyphens", "5D4C1A5295F44E559C0B0B7C4D1F0A11", false},
        {"too short", "5D4C1A52-95F4-4E55-9C0B-0B7C4D1F0A1", false},
        {"too long", "5D4C1A52-95F4-4E55-9C0B-0B7C4D1F0A111", false},
        {"non hex", "5D4C1A52-95F4-4E55-9C0B-0B7C4D1F0A1G", false},
        {"hyphen misplaced", "5D4C1A5-295F4-4E55-9C0B-0B7C4D1F0A11", false},
        {"blank around", " 5D4C1A52-95F4-4E55-9C0B-0B7C4D1F0A1", false},
        {"empty", "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::optional<QUuid> id = TonePreset::idFromText(QString::fromLatin1(c.input));
        EXPECT_EQ(id.has_value(), c.valid);
        if (id) {
            EXPECT_EQ(TonePreset::idText(*id), QString::fromLatin1(c.input).toUpper());
        }
    }
}

TEST(TonePreset, MenuSymbolComesFromBuiltInIdThenKeywordThenIdHash)
{
    struct Case {
        const char* name;
        TonePreset preset;
        const char* expected;
    };
    const char* const plainId = "5D4C1A52-95F4-4E55-9C0B-0B7C4D1F0A11";
    const Case cases[] = {
        {"built-in id wins over its name", customPreset("00000000-0000-4000-8000-000000000008", "Sales Email"),
         "arrow.up.forward"},
        {"earlier keyword row wins", customPreset(plainId, "My Sales Email"), "dollarsign.circle.fill"},
        {"keyword inside a longer word", customPreset(plainId, "Kindness"), "heart.fill"},
        {"keyword is matched case-insensitively", customPreset(plainId, "URGENT reply"), "flame.fill"},
        {"stem matches longer words", customPreset(plainId, "Persuading"), "megaphone.fill"},
        {"simple before simplif", customPreset(plainId, "Simplify"), "book.fill"},
        {"simple", customPreset(plainId, "Simple"), "leaf.fill"},
        {"sell before sales", customPreset(plainId, "Sell to sales"), "bag.fill"},
        {"last keyword row", customPreset(plainId, "Witty"), "sparkles"},
        {"hash of id ending in 19", customPreset("00000000-0000-4000-8000-000000000019", "Zzz"), "highlighter"},
        {"hash of id ending in 0", customPreset("00000000-0000-4000-8000-000000000000", "Zzz"), "person.fill"},
        {"hash uses the upper-case id text", customPreset("00000000-0000-4000-8000-00000000001a", "Zzz"),
         "character.cursor.ibeam"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.preset.menuSystemImage(), QString::fromLatin1(c.expected));
    }
}

TEST(TonePreset, EqualityAndHashCoverAllThreeFields)
{
    const TonePreset a = customPreset("5D4C1A52-95F4-4E55-9C0B-0B7C4D1F0A11", "A");
    TonePreset renamed = a;
    renamed.name = QStringLiteral("B");
    TonePreset reworded = a;
    reworded.instruction = QStringLiteral("Other.");
    EXPECT_EQ(a, TonePreset(a));
    EXPECT_NE(a, renamed);
    EXPECT_NE(a, reworded);
    EXPECT_EQ(QSet<TonePreset>({a, a, renamed, reworded}).size(), 3);
}
