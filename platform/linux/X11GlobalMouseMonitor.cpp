#include "X11GlobalMouseMonitor.h"

#include <QGuiApplication>
#include <QSocketNotifier>

#include "platform/linux/X11Connection.h"

#include <xcb/xcb.h>
#include <xcb/xinput.h>

#include <cstdlib>
#include <memory>

namespace platform::linuxbackend {

namespace {

using x11::Reply;

// Raw events on the root window need XInput 2.0; from 2.1 on they arrive even
// while another client holds a pointer grab, as a menu of another program does.
constexpr uint16_t kWantedMajor = 2;
constexpr uint16_t kWantedMinor = 2;
constexpr uint32_t kLeftButton = 1;
constexpr uint32_t kRightButton = 3;

} // namespace

X11GlobalMouseMonitor::X11GlobalMouseMonitor() = default;

X11GlobalMouseMonitor::~X11GlobalMouseMonitor()
{
    close();
}

std::optional<int> X11GlobalMouseMonitor::add(Handler handler)
{
    if (!connection_ && !open())
        return std::nullopt;
    handlers_[++lastToken_] = std::move(handler);
    return lastToken_;
}

void X11GlobalMouseMonitor::remove(int token)
{
    handlers_.erase(token);
    if (handlers_.empty())
        close();
}

bool X11GlobalMouseMonitor::open()
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return false;
    int screenNumber = 0;
    xcb_connection_t* connection = x11::openConnection(&screenNumber);
    if (!connection)
        return false;
    const xcb_query_extension_reply_t* extension = xcb_get_extension_data(connection, &xcb_input_id);
    if (!extension || !extension->present) {
        xcb_disconnect(connection);
        return false;
    }
    Reply<xcb_input_xi_query_version_reply_t> version(xcb_input_xi_query_version_reply(
        connection, xcb_input_xi_query_version(connection, kWantedMajor, kWantedMinor), nullptr));
    if (!version || version->major_version < 2) {
        xcb_disconnect(connection);
        return false;
    }

    struct {
        xcb_input_event_mask_t head;
        uint32_t mask;
    } selection{{XCB_INPUT_DEVICE_ALL_MASTER, 1}, XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_PRESS};
    bool selectedAny = false;
    for (xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(connection)); it.rem;
         xcb_screen_next(&it)) {
        Reply<xcb_generic_error_t> error(xcb_request_check(
            connection, xcb_input_xi_select_events_checked(connection, it.data->root, 1, &selection.head)));
        selectedAny = selectedAny || !error;
    }
    if (!selectedAny) {
        xcb_disconnect(connection);
        return false;
    }

    connection_ = connection;
    xinputOpcode_ = extension->major_opcode;
    notifier_ = std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(connection), QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(), [this] { drain(); });
    // Replies read above may have pulled events into xcb's queue already.
    drain();
    return true;
}

void X11GlobalMouseMonitor::close()
{
    notifier_.reset();
    if (connection_)
        xcb_disconnect(connection_);
    connection_ = nullptr;
}

void X11GlobalMouseMonitor::drain()
{
    if (!connection_)
        return;
    // A handler may remove itself, or the last handler, and so close the
    // connection: collect first, deliver afterwards.
    std::vector<Button> presses;
    while (Reply<xcb_generic_event_t> event{xcb_poll_for_event(connection_)}) {
        if ((event->response_type & 0x7f) != XCB_GE_GENERIC)
            continue;
        const auto* generic = reinterpret_cast<const xcb_ge_generic_event_t*>(event.get());
        if (generic->extension != xinputOpcode_ || generic->event_type != XCB_INPUT_RAW_BUTTON_PRESS)
            continue;
        const auto* press = reinterpret_cast<const xcb_input_raw_button_press_event_t*>(event.get());
        if (press->detail == kLeftButton)
            presses.push_back(Button::left);
        else if (press->detail == kRightButton)
            presses.push_back(Button::right);
    }
    if (xcb_connection_has_error(connection_)) {
        close();
        return;
    }
    for (Button button : presses) {
        auto handlers = handlers_;
        for (auto& [token, handler] : handlers) {
            if (handlers_.count(token))
                handler(button);
        }
    }
}

} // namespace platform::linuxbackend
