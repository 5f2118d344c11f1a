#include "XkbLayoutText.h"

#include "platform/PhysicalKeys.h"

#include <QByteArray>

#include <array>
#include <bitset>

namespace platform::linuxbackend::xkb {

namespace {

// Spacing forms of the common dead keys, as a layout's key cap shows them.
constexpr std::array<std::pair<xkb_keysym_t, char32_t>, 11> kDeadKeys{{
    {0xfe50, U'`'},     // dead_grave
    {0xfe51, U'\u00b4'}, // dead_acute
    {0xfe52, U'^'},     // dead_circumflex
    {0xfe53, U'~'},     // dead_tilde
    {0xfe54, U'\u00af'}, // dead_macron
    {0xfe55, U'\u02d8'}, // dead_breve
    {0xfe56, U'\u02d9'}, // dead_abovedot
    {0xfe57, U'\u00a8'}, // dead_diaeresis
    {0xfe58, U'\u02da'}, // dead_abovering
    {0xfe5a, U'\u02c7'}, // dead_caron
    {0xfe5b, U'\u00b8'}, // dead_cedilla
}};

QString textOfKeysym(xkb_keysym_t sym)
{
    for (const auto& [dead, spacing] : kDeadKeys) {
        if (dead == sym)
            return QString::fromUcs4(&spacing, 1);
    }
    char buffer[16] = {};
    const int written = xkb_keysym_to_utf8(sym, buffer, sizeof buffer);
    if (written <= 1)
        return {};
    const QString text = QString::fromUtf8(buffer, written - 1);
    // Control characters (Tab, Return, Escape) are not key text.
    if (text.size() == 1 && text.at(0).category() == QChar::Other_Control)
        return {};
    return text;
}

} // namespace

ContextPtr newContext()
{
    return ContextPtr(xkb_context_new(XKB_CONTEXT_NO_FLAGS));
}

KeymapPtr compileKeymap(xkb_context* context, const QString& layout, const QString& variant)
{
    if (!context)
        return {};
    const QByteArray layoutBytes = layout.toUtf8();
    const QByteArray variantBytes = variant.toUtf8();
    xkb_rule_names names{};
    names.layout = layout.isEmpty() ? nullptr : layoutBytes.constData();
    names.variant = variant.isEmpty() ? nullptr : variantBytes.constData();
    return KeymapPtr(xkb_keymap_new_from_names(context, &names, XKB_KEYMAP_COMPILE_NO_FLAGS));
}

bool isAsciiCapable(xkb_keymap* keymap, xkb_layout_index_t layout)
{
    if (!keymap || layout >= xkb_keymap_num_layouts(keymap))
        return false;
    std::bitset<26> letters;
    const xkb_keycode_t last = xkb_keymap_max_keycode(keymap);
    for (xkb_keycode_t key = xkb_keymap_min_keycode(keymap); key <= last; ++key) {
        const xkb_keysym_t* syms = nullptr;
        const int count = xkb_keymap_key_get_syms_by_level(keymap, key, layout, 0, &syms);
        for (int i = 0; i < count; ++i) {
            if (syms[i] >= 'a' && syms[i] <= 'z')
                letters.set(syms[i] - 'a');
        }
        if (letters.all())
            return true;
    }
    return false;
}

std::optional<xkb_layout_index_t> asciiCapableLayout(xkb_keymap* keymap, xkb_layout_index_t preferred)
{
    if (!keymap)
        return std::nullopt;
    if (isAsciiCapable(keymap, preferred))
        return preferred;
    const xkb_layout_index_t count = xkb_keymap_num_layouts(keymap);
    for (xkb_layout_index_t layout = 0; layout < count; ++layout) {
        if (layout != preferred && isAsciiCapable(keymap, layout))
            return layout;
    }
    return std::nullopt;
}

std::optional<QString> textForKey(xkb_keymap* keymap, xkb_layout_index_t layout, qint64 virtualKeyCode)
{
    const auto keycode = physical_keys::xKeycodeForVirtualKey(virtualKeyCode);
    if (!keymap || !keycode)
        return std::nullopt;
    const xkb_keysym_t* syms = nullptr;
    const int count = xkb_keymap_key_get_syms_by_level(keymap, *keycode, layout, 0, &syms);
    QString text;
    for (int i = 0; i < count; ++i)
        text += textOfKeysym(syms[i]);
    return text;
}

std::optional<QString> asciiCapableTextForKey(xkb_keymap* keymap, xkb_layout_index_t preferred,
                                              qint64 virtualKeyCode)
{
    if (const auto layout = asciiCapableLayout(keymap, preferred))
        return textForKey(keymap, *layout, virtualKeyCode);
    // Built once: the fallback never changes, and compiling costs milliseconds.
    struct Fallback {
        ContextPtr context = newContext();
        KeymapPtr keymap = compileKeymap(context.get(), QStringLiteral("us"));
    };
    static const Fallback fallback;
    return textForKey(fallback.keymap.get(), 0, virtualKeyCode);
}

} // namespace platform::linuxbackend::xkb
