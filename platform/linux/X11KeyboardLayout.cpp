#include "X11KeyboardLayout.h"

#include "platform/linux/X11KeyGrabs.h"
#include "platform/linux/XkbLayoutText.h"

#include <QCoreApplication>

#include <xcb/xcb.h>
#include <xkbcommon/xkbcommon-x11.h>

namespace platform::linuxbackend {

struct X11KeyboardLayout::State {
    xkb::ContextPtr context = xkb::newContext();
    xkb::KeymapPtr keymap;
    xkb_layout_index_t group = 0;
    // The keymap stands for the server's until the server says otherwise.
    bool current = false;
    bool fromServer = false;
    bool filterInstalled = false;

    void load(X11KeyboardLayout* owner)
    {
        if (!filterInstalled && QCoreApplication::instance()) {
            QCoreApplication::instance()->installNativeEventFilter(owner);
            filterInstalled = true;
        }
        keymap.reset();
        group = 0;
        fromServer = false;
        xcb_connection_t* connection = x11::applicationConnection();
        if (context && connection
            && xkb_x11_setup_xkb_extension(connection, XKB_X11_MIN_MAJOR_XKB_VERSION, XKB_X11_MIN_MINOR_XKB_VERSION,
                                           XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr, nullptr, nullptr, nullptr)) {
            const int32_t device = xkb_x11_get_core_keyboard_device_id(connection);
            if (device != -1) {
                keymap.reset(xkb_x11_keymap_new_from_device(context.get(), connection, device,
                                                            XKB_KEYMAP_COMPILE_NO_FLAGS));
                if (keymap) {
                    xkb::StatePtr state(xkb_x11_state_new_from_device(keymap.get(), connection, device));
                    group = state ? xkb_state_serialize_layout(state.get(), XKB_STATE_LAYOUT_EFFECTIVE) : 0;
                    fromServer = true;
                }
            }
        }
        if (!keymap)
            keymap = xkb::compileKeymap(context.get(), {});
        // Without a server nothing announces changes; the defaults stay.
        current = true;
    }
};

X11KeyboardLayout::X11KeyboardLayout()
    : d(std::make_unique<State>())
{
}

X11KeyboardLayout::~X11KeyboardLayout()
{
    if (d->filterInstalled && QCoreApplication::instance())
        QCoreApplication::instance()->removeNativeEventFilter(this);
}

std::optional<QString> X11KeyboardLayout::textForKey(qint64 virtualKeyCode) const
{
    if (!d->current)
        d->load(const_cast<X11KeyboardLayout*>(this));
    return xkb::asciiCapableTextForKey(d->keymap.get(), d->group, virtualKeyCode);
}

bool X11KeyboardLayout::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*)
{
    if (eventType != "xcb_generic_event_t" || !d->fromServer)
        return false;
    xcb_connection_t* connection = x11::applicationConnection();
    if (!connection)
        return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if (x11::isKeyboardMappingChange(connection, event))
        d->current = false;
    else if (const auto group = x11::xkbGroupChange(connection, event))
        d->group = *group;
    return false;
}

} // namespace platform::linuxbackend
