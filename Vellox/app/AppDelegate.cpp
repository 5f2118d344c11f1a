#include "Vellox/app/AppDelegate.h"

#include "Vellox/app/EngineAdapters.h"
#include "Vellox/app/OnboardingWindowController.h"
#include "Vellox/app/OpenSettingsRequest.h"
#include "Vellox/app/RephraseShortcut.h"
#include "GlobalShortcuts/HandlerRegistry.h"
#include "Vellox/rewrite/AppReadinessState.h"
#include "Vellox/settings/KeychainStore.h"
#include "Vellox/settings/PreferencesStore.h"
#include "Vellox/settings/VelloxLog.h"
#include "analytics/AnalyticsManager.h"

#include <QGuiApplication>
#include <QPointer>
#include <QTimer>
#include <QtConcurrent>

namespace {

void warmKeychainAccess(ProviderId provider)
{
    VelloxLog::startup().debug(QStringLiteral("keychain warmAccess start provider=%1").arg(provider.rawValue()));
    // The read only brings the credential store up (and any unlock prompt)
    // before the first rewrite needs the key; the key itself is dropped.
    if (provider != ProviderId::mock)
        (void)KeychainStore::getApiKey(provider);
    VelloxLog::startup().debug(QStringLiteral("keychain warmAccess done"));
}

} // namespace

AppDelegate::AppDelegate(QObject* parent)
    : AppDelegate(Hooks{&EngineAdapters::installServicesProvider, &EngineAdapters::startShortcutRewrite}, parent)
{
}

AppDelegate::AppDelegate(Hooks hooks, QObject* parent)
    : QObject(parent)
    , hooks_(std::move(hooks))
{
}

void AppDelegate::applicationDidFinishLaunching()
{
    VelloxLog::startup().info(QStringLiteral("applicationDidFinishLaunching: begin (no sync keychain/AX)"));
    analytics::AnalyticsManager::configureIfNeeded();
    analytics::AnalyticsManager::trackAppInstalledOnceIfNeeded();
    if (hooks_.installServicesProvider)
        hooks_.installServicesProvider();
    AppReadinessState::shared().schedulePermissionRefresh();

    const AppSettings settings = PreferencesStore::readSettings();
    if (settings.provider != ProviderId::mock) {
        const ProviderId provider = settings.provider;
        (void)QtConcurrent::run([provider] { warmKeychainAccess(provider); });
    }

    QPointer<AppDelegate> self(this);
    GlobalShortcuts::onKeyUp(RephraseShortcut::name(), [self] {
        if (self)
            self->rephraseKeyUp();
    });
    OnboardingWindowController::presentIfNeeded();
    requestOpenSettingsAfterLaunchIfNeeded();

    if (becomeActiveObserver_)
        disconnect(becomeActiveObserver_);
    becomeActiveObserver_ = connect(qGuiApp, &QGuiApplication::applicationStateChanged, this,
                                    [](Qt::ApplicationState state) {
                                        if (state == Qt::ApplicationActive)
                                            AppReadinessState::shared().schedulePermissionRefresh();
                                    });
    VelloxLog::startup().info(QStringLiteral("applicationDidFinishLaunching: returned (scheduled async work)"));
}

void AppDelegate::rephraseKeyUp()
{
    // The stored settings, not the cached store: a pause set in another
    // window takes effect at the very next release.
    if (!PreferencesStore::readSettings().enabled)
        return;
    if (hooks_.startRewrite)
        hooks_.startRewrite();
}

bool AppDelegate::applicationShouldHandleReopen(bool hasVisibleWindows)
{
    if (!hasVisibleWindows)
        OpenSettingsRequest::post();
    return true;
}

void AppDelegate::applicationWillTerminate()
{
    if (becomeActiveObserver_) {
        disconnect(becomeActiveObserver_);
        becomeActiveObserver_ = {};
    }
}

void AppDelegate::requestOpenSettingsAfterLaunchIfNeeded()
{
    QTimer::singleShot(kOpenSettingsDelayMs, this, [] {
        if (!isLikelyOnboardingWindowVisible())
            OpenSettingsRequest::post();
    });
}

bool AppDelegate::isLikelyOnboardingWindowVisible()
{
    // The onboarding controller knows its window; a guess from window sizes
    // would also match any other small untitled window.
    return OnboardingWindowController::isWindowVisible();
}
