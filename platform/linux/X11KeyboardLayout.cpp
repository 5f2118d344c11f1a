#include "X11KeyboardLayout.h"

#include "platform/linux/X11KeyGrabs.h"
#include "platform/linux/XkbLayoutText.h"

#include <xcb/xcb.h>
#include <xkbcommon/xkbcommon-x11.h>

namespace platform::linuxbackend {

std::optional<QString> X11KeyboardLayout::textForKey(qint64 virtualKeyCode) const
{
    const xkb::ContextPtr context = xkb::newContext();
    xcb_connection_t* connection = x11::applicationConnection();
    if (context && connection
        && xkb_x11_setup_xkb_extension(connection, XKB_X11_MIN_MAJOR_XKB_VERSION,
                                       XKB_X11_MIN_MINOR_XKB_VERSION, XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS,
                                       nullptr, nullptr, nullptr, nullptr)) {
        const int32_t device = xkb_x11_get_core_keyboard_device_id(connection);
        if (device != -1) {
            xkb::KeymapPtr keymap(
                xkb_x11_keymap_new_from_device(context.get(), connection, device, XKB_KEYMAP_COMPILE_NO_FLAGS));
            if (keymap) {
                xkb::StatePtr state(xkb_x11_state_new_from_device(keymap.get(), connection, device));
                const xkb_layout_index_t group =
                    state ? xkb_state_serialize_layout(state.get(), XKB_STATE_LAYOUT_EFFECTIVE) : 0;
                return xkb::asciiCapableTextForKey(keymap.get(), group, virtualKeyCode);
            }
        }
    }
    const xkb::KeymapPtr defaults = xkb::compileKeymap(context.get(), {});
    return xkb::asciiCapableTextForKey(defaults.get(), 0, virtualKeyCode);
}

} // namespace platform::linuxbackend
