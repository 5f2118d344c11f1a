#pragma once

#include "platform/Platform.h"

namespace platform::linuxbackend {

// The services of a Linux desktop session. Call once the QApplication exists.
Platform makeLinuxPlatform();

} // namespace platform::linuxbackend
