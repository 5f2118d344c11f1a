#include "AnalyticsErrorTrackingConfig.h"

#include "analytics/AnalyticsBundle.h"

namespace analytics {

namespace {

bool startsWithAny(const QString& module, const QStringList& prefixes)
{
    for (const QString& prefix : prefixes)
        if (module.startsWith(prefix, Qt::CaseSensitive))
            return true;
    return false;
}

} // namespace

const QStringList& AnalyticsErrorTrackingConfig::systemPrefixes()
{
    static const QStringList prefixes = {
        "Foundation", "UIKit", "AppKit", "CoreFoundation", "CoreGraphics", "CoreData", "CoreLocation", "CoreMotion",
        "CoreServices", "CoreText", "AVFoundation", "Metal", "MetalKit", "SwiftUI", "SwiftUICore", "Combine",
        "QuartzCore", "Security", "SystemConfiguration", "CFNetwork", "WebKit", "GraphicsServices", "IOKit",
        "Gestures", "UIKitCore", "UIKitMacHelper", "Accessibility", "AccessibilityUtilities", "UpdateCycle",
        "TextInput", "UIFoundation", "BackBoardServices", "FrontBoardServices", "SpringBoardServices",
        "RunningBoardServices", "libsystem_kernel.dylib", "libsystem_pthread.dylib", "libsystem_c.dylib",
        "libsystem_malloc.dylib", "libdispatch.dylib", "libswift", "libobjc", "dyld",
    };
    return prefixes;
}

AnalyticsErrorTrackingConfig::AnalyticsErrorTrackingConfig()
{
    const QString id = bundle::identifier();
    inAppIncludes_.append(id.isEmpty() ? QString::fromLatin1(kUnknownBundleIdentifier) : id);
    const QVariant executable = bundle::infoValue(QStringLiteral("CFBundleExecutable"));
    if (executable.typeId() == QMetaType::QString)
        inAppIncludes_.append(executable.toString());
}

std::optional<bool> AnalyticsErrorTrackingConfig::ruleVerdict(const QString& module) const
{
    if (startsWithAny(module, inAppIncludes_))
        return true;
    if (startsWithAny(module, inAppExcludes_))
        return false;
    if (startsWithAny(module, systemPrefixes()))
        return false;
    return std::nullopt;
}

bool AnalyticsErrorTrackingConfig::isInAppCrashFrame(const std::optional<QString>& module) const
{
    if (!module)
        return false;
    return ruleVerdict(*module).value_or(inAppByDefault_);
}

bool AnalyticsErrorTrackingConfig::isInAppLiveFrame(const QString& imagePath) const
{
    if (imagePath.isEmpty())
        return false;
    const QString module = imagePath.section(QLatin1Char('/'), -1);
    if (const std::optional<bool> verdict = ruleVerdict(module))
        return *verdict;
    if (imagePath.startsWith(QLatin1String("/System/")) || imagePath.startsWith(QLatin1String("/usr/lib/")))
        return false;
    if (imagePath.contains(QLatin1String("/System/Library/")) || imagePath.contains(QLatin1String("/usr/lib/")))
        return false;
    return inAppByDefault_;
}

} // namespace analytics
