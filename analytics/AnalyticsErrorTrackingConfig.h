#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace analytics {

// Error-tracking settings: whether crashes are captured by themselves, and the
// rules that say which stack frames are the application's own (in-app).
// Meant to be set before set-up and only read afterwards; no lock.
class AnalyticsErrorTrackingConfig {
public:
    // Module-name prefixes of system libraries; frames from them are never
    // in-app unless an include names them first.
    static const QStringList& systemPrefixes();
    // Stands in for a missing bundle identifier in the default includes.
    static constexpr const char* kUnknownBundleIdentifier = "app.vellox.analytics.unknown";

    // Includes: the bundle identifier (or the placeholder), then the
    // executable's name when the information file has one.
    AnalyticsErrorTrackingConfig();

    bool autoCapture() const { return autoCapture_; }
    void setAutoCapture(bool on) { autoCapture_ = on; }
    const QStringList& inAppIncludes() const { return inAppIncludes_; }
    void setInAppIncludes(const QStringList& prefixes) { inAppIncludes_ = prefixes; }
    const QStringList& inAppExcludes() const { return inAppExcludes_; }
    void setInAppExcludes(const QStringList& prefixes) { inAppExcludes_ = prefixes; }
    bool inAppByDefault() const { return inAppByDefault_; }
    void setInAppByDefault(bool on) { inAppByDefault_ = on; }

    // A frame of a decoded crash report; no module means the frame's image is
    // not in the report.
    bool isInAppCrashFrame(const std::optional<QString>& module) const;
    // A frame of a live stack trace, given its image's path as the loader
    // reports it (empty when it reports none).
    bool isInAppLiveFrame(const QString& imagePath) const;

private:
    // Steps shared by both verdicts; nothing when no rule decides.
    std::optional<bool> ruleVerdict(const QString& module) const;

    bool autoCapture_ = false;
    QStringList inAppIncludes_;
    QStringList inAppExcludes_;
    bool inAppByDefault_ = true;
};

} // namespace analytics
