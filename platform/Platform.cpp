#include "Platform.h"

#include "fake/FakePlatform.h"

namespace platform {

namespace {
Platform& storage()
{
    static Platform installed;
    return installed;
}
} // namespace

Platform& Platform::current()
{
    return storage();
}

void Platform::install(Platform services)
{
    storage() = std::move(services);
}

PlatformGuard::PlatformGuard()
    : PlatformGuard(fake::makeFakePlatform())
{
}

PlatformGuard::PlatformGuard(Platform services)
    : previous_(Platform::current())
{
    Platform::install(std::move(services));
}

PlatformGuard::~PlatformGuard()
{
    Platform::install(std::move(previous_));
}

} // namespace platform
