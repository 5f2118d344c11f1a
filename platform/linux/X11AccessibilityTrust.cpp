#include "X11AccessibilityTrust.h"

#include "platform/linux/X11Desktop.h"

#include <xcb/xtest.h>

namespace platform::linuxbackend {

bool X11AccessibilityTrust::isTrusted()
{
    xcb_connection_t* connection = x11::displayConnection();
    if (!connection)
        return false;
    const xcb_query_extension_reply_t* extension = xcb_get_extension_data(connection, &xcb_test_id);
    return extension && extension->present;
}

} // namespace platform::linuxbackend
