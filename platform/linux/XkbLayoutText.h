#pragma once

#include <QString>
#include <QtGlobal>

#include <xkbcommon/xkbcommon.h>

#include <memory>
#include <optional>

// Key text from an XKB keymap, shared by the X11 keyboard layout and its fake.
// Only platform sources include this header.
namespace platform::linuxbackend::xkb {

struct ContextDeleter {
    void operator()(xkb_context* context) const { xkb_context_unref(context); }
};
struct KeymapDeleter {
    void operator()(xkb_keymap* keymap) const { xkb_keymap_unref(keymap); }
};
struct StateDeleter {
    void operator()(xkb_state* state) const { xkb_state_unref(state); }
};
using ContextPtr = std::unique_ptr<xkb_context, ContextDeleter>;
using KeymapPtr = std::unique_ptr<xkb_keymap, KeymapDeleter>;
using StatePtr = std::unique_ptr<xkb_state, StateDeleter>;

ContextPtr newContext();

// A keymap from rule names, the way the desktop would build it. An empty
// layout takes the XKB defaults (the XKB_DEFAULT_* variables, else "us").
KeymapPtr compileKeymap(xkb_context* context, const QString& layout, const QString& variant = {});

// Whether the layout group types every ASCII letter without modifiers.
bool isAsciiCapable(xkb_keymap* keymap, xkb_layout_index_t layout);

// The first ASCII-capable group, trying the preferred one first.
std::optional<xkb_layout_index_t> asciiCapableLayout(xkb_keymap* keymap, xkb_layout_index_t preferred);

// What the key types in the group with no modifiers. Dead keys show their
// spacing accent, so a shortcut on one still reads as something.
std::optional<QString> textForKey(xkb_keymap* keymap, xkb_layout_index_t layout, qint64 virtualKeyCode);

// What the key types in the keymap's preferred group, or in its first
// ASCII-capable group when that one is not, or under the "us" layout when the
// keymap has none (or there is no keymap at all).
std::optional<QString> asciiCapableTextForKey(xkb_keymap* keymap, xkb_layout_index_t preferred,
                                              qint64 virtualKeyCode);

} // namespace platform::linuxbackend::xkb
