#include "Vellox/app/OnboardingWindowController.h"

#include "Vellox/app/DetachedKeyRead.h"
#include "Vellox/app/OnboardingRootView.h"
#include "Vellox/app/OnboardingWindow.h"
#include "Vellox/app/PostOnboardingHint.h"
#include "Vellox/settings/VelloxLog.h"
#include "analytics/AnalyticsManager.h"
#include "platform/AccessibilityTrust.h"
#include "platform/Defaults.h"
#include "platform/Opener.h"
#include "platform/Platform.h"

#include <QApplication>
#include <QCoroFuture>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <QtConcurrent>

namespace {

QPointer<QWidget>& installedWindow()
{
    static QPointer<QWidget> window;
    return window;
}

bool completed()
{
    auto defaults = platform::Platform::current().defaults;
    return defaults && defaults->value(QString::fromLatin1(OnboardingWindowController::completedKey)).toBool();
}

void setCompleted()
{
    if (auto defaults = platform::Platform::current().defaults)
        defaults->setValue(QString::fromLatin1(OnboardingWindowController::completedKey), true);
}

QCoro::Task<void> launchCheck()
{
    VelloxLog::ui().debug(QStringLiteral("presentIfNeeded: async keychain probe"));
    const bool found = co_await OnboardingWindowController::anyProviderHasKeyAsync();
    if (completed())
        co_return;
    if (found) {
        setCompleted();
        VelloxLog::ui().debug(QStringLiteral("presentIfNeeded: skip — saved API key found"));
        co_return;
    }
    co_await OnboardingWindowController::presentAsync(OnboardingWindowController::Presentation::automatic);
}

} // namespace

void OnboardingWindowController::presentIfNeeded()
{
    if (completed())
        return;
    QMetaObject::invokeMethod(qApp, [] { launchCheck(); }, Qt::QueuedConnection);
}

void OnboardingWindowController::present(Presentation presentation)
{
    QMetaObject::invokeMethod(qApp, [presentation] { presentAsync(presentation); }, Qt::QueuedConnection);
}

QCoro::Task<void> OnboardingWindowController::presentAsync(Presentation presentation)
{
    if (QWidget* shown = installedWindow())
        shown->close();
    VelloxLog::ui().debug(QStringLiteral("presentAsync: resolving initial panel (off main thread where applicable)"));
    const OnboardingPanel panel = co_await resolveInitialPanelAsync(presentation);
    installOnboardingWindow(panel);
}

QCoro::Task<OnboardingPanel> OnboardingWindowController::resolveInitialPanelAsync(Presentation presentation)
{
    if (presentation == Presentation::accessibilityResume)
        co_return OnboardingPanel::accessibility;
    const bool hasKey = co_await anyProviderHasKeyAsync();
    std::shared_ptr<platform::AccessibilityTrust> trust = platform::Platform::current().accessibilityTrust;
    QFuture<bool> query = QtConcurrent::run([trust] { return trust && trust->isTrusted(); });
    const bool trusted = co_await query;
    co_return hasKey && !trusted ? OnboardingPanel::accessibility : OnboardingPanel::connect;
}

QCoro::Task<bool> OnboardingWindowController::anyProviderHasKeyAsync()
{
    return anyProviderHasKeyDetached();
}

void OnboardingWindowController::installOnboardingWindow(OnboardingPanel initialPanel)
{
    auto* root = new OnboardingRootView(initialPanel, [] { finish(); }, [] { openAccessibilitySettings(); });
    auto* window = new OnboardingWindow(root);
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        window->move(area.center() - QPoint(window->width() / 2, window->height() / 2));
    }
    if (QWidget* previous = installedWindow())
        previous->deleteLater();
    installedWindow() = window;
    window->show();
    window->raise();
    window->activateWindow();
}

void OnboardingWindowController::openAccessibilitySettings()
{
    if (auto opener = platform::Platform::current().opener)
        opener->openAccessibilitySettings();
}

QWidget* OnboardingWindowController::window()
{
    return installedWindow();
}

bool OnboardingWindowController::isWindowVisible()
{
    QWidget* window = installedWindow();
    return window && window->isVisible();
}

void OnboardingWindowController::finish()
{
    setCompleted();
    analytics::AnalyticsManager::track(QStringLiteral("onboarding_completed"));
    if (QWidget* window = installedWindow()) {
        window->close();
        window->deleteLater();
    }
    installedWindow() = nullptr;
    QTimer::singleShot(kHintDelayMs, qApp, [] { PostOnboardingHint::presentIfNeeded(); });
}

void OnboardingWindowController::resetForTesting()
{
    if (QWidget* window = installedWindow()) {
        window->close();
        delete window;
    }
    installedWindow() = nullptr;
}
