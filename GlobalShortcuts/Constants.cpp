#include "Constants.h"

#include <QOperatingSystemVersion>

namespace GlobalShortcuts::Constants {

namespace {

std::optional<Host>& hostOverride()
{
    static std::optional<Host> value;
    return value;
}

constexpr int kAffectedMajor = 15;
constexpr int kLastAffectedMinor = 1;

} // namespace

bool isSandboxed(const QProcessEnvironment& environment)
{
    return environment.contains(QStringLiteral("APP_SANDBOX_CONTAINER_ID"));
}

bool isSandboxed()
{
    static const bool sandboxed = isSandboxed(QProcessEnvironment::systemEnvironment());
    return sandboxed;
}

Host host()
{
    if (hostOverride())
        return *hostOverride();
    Host out;
    const QOperatingSystemVersion version = QOperatingSystemVersion::current();
    if (version.type() == QOperatingSystemVersion::MacOS) {
        out.macOSMajor = version.majorVersion();
        out.macOSMinor = version.minorVersion();
    }
    out.sandboxed = isSandboxed();
    return out;
}

bool refusesOptionOnlyShortcuts(const Host& host)
{
    return host.sandboxed && host.macOSMajor == kAffectedMajor && host.macOSMinor >= 0
        && host.macOSMinor <= kLastAffectedMinor;
}

void detail::setHostOverride(std::optional<Host> host)
{
    hostOverride() = host;
}

} // namespace GlobalShortcuts::Constants
