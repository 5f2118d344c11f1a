#pragma once

#include <QString>
#include <QUrl>

namespace analytics {

// What the analytics client is set up with: the project token, the ingestion
// host, and the switches of its automatic captures. One instance is shared by
// the client and everything it creates; it is filled in on one thread before
// set-up and only read afterwards.
class AnalyticsConfig {
public:
    // The analytics service's cloud ingestion host, used when none is given.
    static constexpr const char* kDefaultHost = "https://ingest.vellox.io";

    // The token is stored trimmed of white space and newlines; an empty token
    // is kept as it is, and set-up decides what to make of it.
    explicit AnalyticsConfig(const QString& projectToken);
    // A blank host, or one that is not a valid URL, means the default host.
    AnalyticsConfig(const QString& projectToken, const QString& host);

    const QString& projectToken() const { return projectToken_; }
    const QUrl& host() const { return host_; }

    // Sending "Application Installed", "Application Opened" and the like by itself.
    bool captureApplicationLifecycleEvents() const { return captureApplicationLifecycleEvents_; }
    void setCaptureApplicationLifecycleEvents(bool on) { captureApplicationLifecycleEvents_ = on; }

    // Sending "$screen" events by itself.
    bool captureScreenViews() const { return captureScreenViews_; }
    void setCaptureScreenViews(bool on) { captureScreenViews_ = on; }

    // Loading the feature flags during set-up.
    bool preloadFeatureFlags() const { return preloadFeatureFlags_; }
    void setPreloadFeatureFlags(bool on) { preloadFeatureFlags_ = on; }

    // Sending "$feature_flag_called" whenever a flag is read.
    bool sendFeatureFlagEvent() const { return sendFeatureFlagEvent_; }
    void setSendFeatureFlagEvent(bool on) { sendFeatureFlagEvent_ = on; }

private:
    QString projectToken_;
    QUrl host_;
    bool captureApplicationLifecycleEvents_ = true;
    bool captureScreenViews_ = true;
    bool preloadFeatureFlags_ = true;
    bool sendFeatureFlagEvent_ = true;
};

} // namespace analytics
