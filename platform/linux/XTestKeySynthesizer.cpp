#include "XTestKeySynthesizer.h"

#include "platform/PhysicalKeys.h"
#include "platform/TerminalWindows.h"
#include "platform/linux/X11Desktop.h"

#include <xcb/xtest.h>

#include <cstdlib>
#include <memory>
#include <optional>
#include <vector>

namespace platform::linuxbackend {

namespace {

using x11::Reply;

constexpr xcb_keysym_t kControlL = 0xffe3;
constexpr xcb_keysym_t kShiftL = 0xffe1;
constexpr xcb_keysym_t kLowerC = 0x63;
constexpr xcb_keysym_t kLowerV = 0x76;
// The ANSI virtual key codes of C and V, for layouts without those letters.
constexpr qint64 kVirtualC = 8;
constexpr qint64 kVirtualV = 9;
// Modifier map rows: Shift, Lock, Control, Mod1..Mod5. Lock and Num Lock
// are states, not held keys; they stay as they are.
constexpr int kLockRow = 1;

// The server's keyboard mapping, asked for once per chord.
class KeyboardMapping {
public:
    explicit KeyboardMapping(xcb_connection_t* connection)
    {
        const xcb_setup_t* setup = xcb_get_setup(connection);
        first_ = setup->min_keycode;
        count_ = setup->max_keycode - setup->min_keycode + 1;
        map_.reset(xcb_get_keyboard_mapping_reply(
            connection, xcb_get_keyboard_mapping(connection, first_, uint8_t(count_)), nullptr));
    }

    // The key code whose first group, plain or shifted level, gives `keysym`.
    std::optional<xcb_keycode_t> keycodeFor(xcb_keysym_t keysym) const
    {
        if (!map_ || map_->keysyms_per_keycode == 0)
            return std::nullopt;
        const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(map_.get());
        const int perKey = map_->keysyms_per_keycode;
        const int total = xcb_get_keyboard_mapping_keysyms_length(map_.get());
        for (int level = 0; level < std::min(perKey, 2); ++level) {
            for (int key = 0; key < count_ && key * perKey + level < total; ++key) {
                if (syms[key * perKey + level] == keysym)
                    return xcb_keycode_t(first_ + key);
            }
        }
        return std::nullopt;
    }

private:
    xcb_keycode_t first_ = 0;
    int count_ = 0;
    Reply<xcb_get_keyboard_mapping_reply_t> map_;
};

// Modifier keys that are down now, apart from the lock keys.
std::vector<xcb_keycode_t> heldModifierKeys(xcb_connection_t* connection, const KeyboardMapping& mapping)
{
    std::vector<xcb_keycode_t> held;
    auto modCookie = xcb_get_modifier_mapping(connection);
    auto keysCookie = xcb_query_keymap(connection);
    Reply<xcb_get_modifier_mapping_reply_t> mods(xcb_get_modifier_mapping_reply(connection, modCookie, nullptr));
    Reply<xcb_query_keymap_reply_t> keys(xcb_query_keymap_reply(connection, keysCookie, nullptr));
    if (!mods || !keys)
        return held;
    const xcb_keycode_t* map = xcb_get_modifier_mapping_keycodes(mods.get());
    const int perRow = mods->keycodes_per_modifier;
    // Num Lock lives on whichever Mod row holds its key; leave that row alone.
    const auto numLock = mapping.keycodeFor(0xff7f);
    for (int row = 0; row < 8; ++row) {
        if (row == kLockRow)
            continue;
        bool isNumLockRow = false;
        for (int i = 0; i < perRow; ++i)
            isNumLockRow |= numLock && map[row * perRow + i] == *numLock;
        if (isNumLockRow)
            continue;
        for (int i = 0; i < perRow; ++i) {
            const xcb_keycode_t code = map[row * perRow + i];
            if (code != 0 && (keys->keys[code / 8] & (1 << (code % 8))))
                held.push_back(code);
        }
    }
    return held;
}

// Key events sent one after another and checked together: the first check
// waits for the server once, for all of them, instead of once per key.
class FakeKeys {
public:
    explicit FakeKeys(xcb_connection_t* connection) : connection_(connection) { }

    void send(uint8_t type, xcb_keycode_t key)
    {
        sent_.push_back(xcb_test_fake_input_checked(connection_, type, key, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0));
    }

    bool allTaken()
    {
        bool ok = true;
        for (const xcb_void_cookie_t cookie : sent_) {
            Reply<xcb_generic_error_t> error(xcb_request_check(connection_, cookie));
            ok &= !error;
        }
        sent_.clear();
        return ok;
    }

private:
    xcb_connection_t* connection_;
    std::vector<xcb_void_cookie_t> sent_;
};

} // namespace

KeySynthesizer::Result XTestKeySynthesizer::post(Chord chord)
{
    xcb_connection_t* connection = x11::displayConnection();
    if (!connection)
        return Result::unavailable;
    const xcb_query_extension_reply_t* extension = xcb_get_extension_data(connection, &xcb_test_id);
    if (!extension || !extension->present)
        return Result::unavailable;

    ChordStyle style = ChordStyle::control;
    if (const xcb_window_t window = x11::activeWindow(connection); window != XCB_WINDOW_NONE) {
        if (const auto cls = x11::windowClass(connection, window))
            style = chordStyleForWindowClass(cls->className, cls->instance);
    }
    if (style == ChordStyle::none)
        return Result::noKnownChord;
    const bool terminal = style == ChordStyle::controlShift;
    const bool copy = chord == Chord::copy;
    const KeyboardMapping mapping(connection);
    std::optional<xcb_keycode_t> letter = mapping.keycodeFor(copy ? kLowerC : kLowerV);
    if (!letter) {
        if (const auto physical = physical_keys::xKeycodeForVirtualKey(copy ? kVirtualC : kVirtualV))
            letter = *physical;
    }
    const auto control = mapping.keycodeFor(kControlL);
    const auto shift = mapping.keycodeFor(kShiftL);
    if (!letter || !control || (terminal && !shift))
        return Result::eventCreationFailed;

    const std::vector<xcb_keycode_t> held = heldModifierKeys(connection, mapping);
    FakeKeys keys(connection);
    for (xcb_keycode_t key : held)
        keys.send(XCB_KEY_RELEASE, key);
    keys.send(XCB_KEY_PRESS, *control);
    if (terminal)
        keys.send(XCB_KEY_PRESS, *shift);
    keys.send(XCB_KEY_PRESS, *letter);
    keys.send(XCB_KEY_RELEASE, *letter);
    if (terminal)
        keys.send(XCB_KEY_RELEASE, *shift);
    keys.send(XCB_KEY_RELEASE, *control);
    for (xcb_keycode_t key : held)
        keys.send(XCB_KEY_PRESS, key);
    const bool ok = keys.allTaken();
    return ok ? Result::posted : Result::eventCreationFailed;
}

} // namespace platform::linuxbackend
