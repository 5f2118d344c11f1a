#pragma once

#include "platform/Platform.h"

#include <memory>

namespace platform::fake {

// A Platform whose every service is an in-memory fake.
Platform makeFakePlatform();

// The installed service as its fake type; throws std::bad_cast when the
// installed service is not that fake.
template <class Fake, class Service>
Fake& as(const std::shared_ptr<Service>& service)
{
    return dynamic_cast<Fake&>(*service);
}

} // namespace platform::fake
