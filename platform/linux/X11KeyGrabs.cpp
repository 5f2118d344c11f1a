#include "X11KeyGrabs.h"

#include <QGuiApplication>

#include "platform/HotKeyBackend.h"
#include "platform/PhysicalKeys.h"

// xkb.h names a member "explicit"; the rename keeps it valid C++.
#define explicit xkb_explicit
#include <xcb/xkb.h>
#undef explicit

#include <cstdlib>
#include <map>
#include <memory>

namespace platform::linuxbackend::x11 {

namespace {

constexpr qint64 kLargestValue = 0xFFFFFFFFLL;
constexpr xcb_keysym_t kNumLockKeysym = 0xff7f;
constexpr uint8_t kBadAccess = 10;

int statusOf(const xcb_generic_error_t* error)
{
    return error->error_code == kBadAccess ? HotKeyBackend::statusTaken : HotKeyBackend::statusUnsupported;
}

} // namespace

GrabKeyResult grabKeyFor(qint64 keyCode, qint64 carbonModifiers)
{
    if (keyCode < 0 || keyCode > kLargestValue || carbonModifiers < 0 || carbonModifiers > kLargestValue
        || (carbonModifiers & CarbonModifier::function))
        return {std::nullopt, HotKeyBackend::statusUnsupported};
    const auto keycode = physical_keys::xKeycodeForVirtualKey(keyCode);
    if (!keycode)
        return {std::nullopt, HotKeyBackend::statusUnsupported};
    uint16_t mask = 0;
    if (carbonModifiers & CarbonModifier::control)
        mask |= XCB_MOD_MASK_CONTROL;
    if (carbonModifiers & CarbonModifier::option)
        mask |= XCB_MOD_MASK_1;
    if (carbonModifiers & CarbonModifier::shift)
        mask |= XCB_MOD_MASK_SHIFT;
    if (carbonModifiers & CarbonModifier::command)
        mask |= XCB_MOD_MASK_4;
    return {GrabKey{*keycode, mask}, HotKeyBackend::statusOk};
}

uint16_t numLockMask(xcb_connection_t* connection)
{
    const xcb_setup_t* setup = xcb_get_setup(connection);
    const xcb_keycode_t first = setup->min_keycode;
    const uint8_t count = setup->max_keycode - setup->min_keycode + 1;
    auto modCookie = xcb_get_modifier_mapping(connection);
    auto mapCookie = xcb_get_keyboard_mapping(connection, first, count);
    Reply<xcb_get_modifier_mapping_reply_t> mods(xcb_get_modifier_mapping_reply(connection, modCookie, nullptr));
    Reply<xcb_get_keyboard_mapping_reply_t> map(xcb_get_keyboard_mapping_reply(connection, mapCookie, nullptr));
    if (!mods || !map || map->keysyms_per_keycode == 0)
        return 0;
    const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(map.get());
    const int symCount = xcb_get_keyboard_mapping_keysyms_length(map.get());
    const auto isNumLock = [&](xcb_keycode_t keycode) {
        if (keycode < first)
            return false;
        const int base = (keycode - first) * map->keysyms_per_keycode;
        for (int i = 0; i < map->keysyms_per_keycode && base + i < symCount; ++i) {
            if (syms[base + i] == kNumLockKeysym)
                return true;
        }
        return false;
    };
    const xcb_keycode_t* keycodes = xcb_get_modifier_mapping_keycodes(mods.get());
    const int perModifier = mods->keycodes_per_modifier;
    for (int modifier = 0; modifier < 8; ++modifier) {
        for (int i = 0; i < perModifier; ++i) {
            if (isNumLock(keycodes[modifier * perModifier + i]))
                return uint16_t(1u << modifier);
        }
    }
    return 0;
}

std::vector<uint16_t> lockVariants(xcb_connection_t* connection)
{
    const uint16_t numLock = numLockMask(connection);
    std::vector<uint16_t> variants{0, XCB_MOD_MASK_LOCK};
    if (numLock != 0 && numLock != XCB_MOD_MASK_LOCK) {
        variants.push_back(numLock);
        variants.push_back(uint16_t(numLock | XCB_MOD_MASK_LOCK));
    }
    return variants;
}

std::vector<xcb_window_t> rootWindows(xcb_connection_t* connection)
{
    std::vector<xcb_window_t> roots;
    for (auto it = xcb_setup_roots_iterator(xcb_get_setup(connection)); it.rem; xcb_screen_next(&it))
        roots.push_back(it.data->root);
    return roots;
}

int grab(xcb_connection_t* connection, const GrabKey& key, const std::vector<uint16_t>& variants)
{
    struct Request {
        xcb_window_t root;
        uint16_t modifiers;
        xcb_void_cookie_t cookie;
    };
    std::vector<Request> requests;
    for (xcb_window_t root : rootWindows(connection)) {
        for (uint16_t variant : variants) {
            const uint16_t modifiers = key.modifiers | variant;
            // Not owner events: the press must reach the root even when one of
            // our own windows has the focus.
            requests.push_back({root, modifiers,
                                xcb_grab_key_checked(connection, 0, root, modifiers, key.keycode,
                                                     XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC)});
        }
    }
    int status = HotKeyBackend::statusOk;
    std::vector<const Request*> taken;
    for (const Request& request : requests) {
        Reply<xcb_generic_error_t> error(xcb_request_check(connection, request.cookie));
        if (error) {
            if (status == HotKeyBackend::statusOk)
                status = statusOf(error.get());
        } else {
            taken.push_back(&request);
        }
    }
    if (status != HotKeyBackend::statusOk) {
        for (const Request* request : taken)
            xcb_ungrab_key(connection, key.keycode, request->root, request->modifiers);
    }
    xcb_flush(connection);
    return status;
}

void ungrab(xcb_connection_t* connection, const GrabKey& key, const std::vector<uint16_t>& variants)
{
    for (xcb_window_t root : rootWindows(connection)) {
        for (uint16_t variant : variants)
            xcb_ungrab_key(connection, key.keycode, root, key.modifiers | variant);
    }
    xcb_flush(connection);
}

std::vector<bool> probeTaken(xcb_connection_t* connection, const std::vector<GrabKey>& keys)
{
    // Thousands of candidates at a time: the grabs go out unchecked and their
    // refusals come back as errors on the connection's queue, so the whole
    // probe costs one round trip. Releasing a grab this connection never got
    // is harmless, so every one is released without asking which succeeded.
    const std::vector<uint16_t> variants = lockVariants(connection);
    const std::vector<xcb_window_t> roots = rootWindows(connection);
    std::map<uint32_t, size_t> keyOfRequest;
    for (size_t index = 0; index < keys.size(); ++index) {
        for (xcb_window_t root : roots) {
            for (uint16_t variant : variants) {
                const uint16_t modifiers = keys[index].modifiers | variant;
                const xcb_void_cookie_t cookie = xcb_grab_key(connection, 0, root, modifiers, keys[index].keycode,
                                                              XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
                keyOfRequest.emplace(cookie.sequence, index);
                xcb_ungrab_key(connection, keys[index].keycode, root, modifiers);
            }
        }
    }
    // Every answer before this one's has arrived once it is here.
    free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
    std::vector<bool> taken(keys.size(), false);
    while (xcb_generic_event_t* event = xcb_poll_for_queued_event(connection)) {
        if (event->response_type == 0) {
            const auto* error = reinterpret_cast<const xcb_generic_error_t*>(event);
            const auto found = keyOfRequest.find(error->full_sequence);
            if (found != keyOfRequest.end() && error->error_code == kBadAccess)
                taken[found->second] = true;
        }
        free(event);
    }
    return taken;
}

bool isKeyboardMappingChange(xcb_connection_t* connection, const xcb_generic_event_t* event)
{
    const uint8_t type = event->response_type & 0x7f;
    if (type == XCB_MAPPING_NOTIFY)
        return reinterpret_cast<const xcb_mapping_notify_event_t*>(event)->request != XCB_MAPPING_POINTER;
    const xcb_query_extension_reply_t* xkb = xcb_get_extension_data(connection, &xcb_xkb_id);
    if (!xkb || !xkb->present || type != xkb->first_event)
        return false;
    const uint8_t xkbType = reinterpret_cast<const xcb_xkb_map_notify_event_t*>(event)->xkbType;
    return xkbType == XCB_XKB_NEW_KEYBOARD_NOTIFY || xkbType == XCB_XKB_MAP_NOTIFY;
}

std::optional<uint8_t> xkbGroupChange(xcb_connection_t* connection, const xcb_generic_event_t* event)
{
    const xcb_query_extension_reply_t* xkb = xcb_get_extension_data(connection, &xcb_xkb_id);
    if (!xkb || !xkb->present || (event->response_type & 0x7f) != xkb->first_event)
        return std::nullopt;
    const auto* state = reinterpret_cast<const xcb_xkb_state_notify_event_t*>(event);
    if (state->xkbType != XCB_XKB_STATE_NOTIFY)
        return std::nullopt;
    return state->group;
}

bool enableDetectableAutoRepeat(xcb_connection_t* connection)
{
    Reply<xcb_xkb_use_extension_reply_t> use(xcb_xkb_use_extension_reply(
        connection, xcb_xkb_use_extension(connection, XCB_XKB_MAJOR_VERSION, XCB_XKB_MINOR_VERSION), nullptr));
    if (!use || !use->supported)
        return false;
    Reply<xcb_xkb_per_client_flags_reply_t> flags(xcb_xkb_per_client_flags_reply(
        connection,
        xcb_xkb_per_client_flags(connection, XCB_XKB_ID_USE_CORE_KBD, XCB_XKB_PER_CLIENT_FLAG_DETECTABLE_AUTO_REPEAT,
                                 XCB_XKB_PER_CLIENT_FLAG_DETECTABLE_AUTO_REPEAT, 0, 0, 0),
        nullptr));
    return flags && (flags->value & XCB_XKB_PER_CLIENT_FLAG_DETECTABLE_AUTO_REPEAT);
}

} // namespace platform::linuxbackend::x11
