// Puts the shell's windows into their everyday states with in-memory
// platform services and saves each one as a PNG.
#include "Vellox/app/MenuBarWindow.h"
#include "Vellox/app/OnboardingRootView.h"
#include "Vellox/app/OnboardingWindow.h"
#include "Vellox/app/SettingsWindow.h"
#include "Vellox/app/StatusDot.h"
#include "Vellox/panels/SymbolIcons.h"
#include "Vellox/rewrite/AppReadinessState.h"
#include "Vellox/rewrite/RewriteFeedbackState.h"
#include "Vellox/rewrite/RewriteUsageStore.h"
#include "Vellox/settings/PreferencesStore.h"
#include "platform/Defaults.h"
#include "platform/Platform.h"
#include "platform/fake/FakeAccessibilityTrust.h"
#include "platform/fake/FakePlatform.h"

#include "support/TempHome.h"

#include <QApplication>
#include <QDir>
#include <QPainter>
#include <QTest>

#include <QCoroTask>

#include <cstdio>

namespace {

QString outputDir;

void settle(int ms = 300)
{
    QTest::qWait(ms);
}

void save(QWidget* widget, const QString& name)
{
    settle();
    const QPixmap shot = widget->grab();
    const QString path = QDir(outputDir).filePath(name + QStringLiteral(".png"));
    if (!shot.save(path))
        std::fprintf(stderr, "could not write %s\n", qPrintable(path));
    else
        std::printf("%s\n", qPrintable(path));
}

void setPermission(bool trusted)
{
    auto& trust = platform::fake::as<platform::fake::FakeAccessibilityTrust>(
        platform::Platform::current().accessibilityTrust);
    trust.trusted = trusted;
    AppReadinessState::shared().refreshPermissionStatusAsync();
    settle(200);
}

void setUsage(qint64 count)
{
    auto defaults = platform::Platform::current().defaults;
    defaults->setValue(QString::fromLatin1(RewriteUsageStore::todayCountKey), count);
    defaults->setValue(QString::fromLatin1(RewriteUsageStore::dayKeyKey), RewriteUsageStore::currentDayKey());
    RewriteUsageStore::resetSharedForTesting();
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    outputDir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("docs/screenshots");
    QDir().mkpath(outputDir);

    // The same icons on every machine, whatever its icon theme.
    SymbolIcons::setUseThemeIcons(false);
    TempHome home;
    platform::PlatformGuard guard(platform::fake::makeFakePlatform());
    PreferencesStore::resetSharedForTesting();

    setPermission(true);
    setUsage(12);
    PreferencesStore::shared().updateSettings([](AppSettings& s) {
        s.defaultTonePresetId = s.tonePresets.at(1).id;
    });
    {
        MenuBarWindow popover([] {}, [] {});
        popover.popUp(QRect(900, 0, 24, 24));
        save(&popover, QStringLiteral("popover"));

        RewriteFeedbackState::shared().setLastError(RewriteFeedbackMessage{
            QStringLiteral("The provider rejected the API key. Check it in Settings."),
            RewriteFeedbackMessage::Level::error, RewriteFeedbackAction::openSettings});
        save(&popover, QStringLiteral("popover-error"));
        RewriteFeedbackState::shared().setLastError(std::nullopt);

        setPermission(false);
        save(&popover, QStringLiteral("popover-permission"));
        setPermission(true);
    }

    {
        SettingsWindow settings;
        settings.present();
        settings.resize(SettingsWindow::kIdealWidth, 640);
        save(&settings, QStringLiteral("settings"));
    }

    const struct {
        OnboardingPanel panel;
        const char* name;
    } panels[] = {
        {OnboardingPanel::connect, "onboarding-connect"},
        {OnboardingPanel::accessibility, "onboarding-accessibility"},
        {OnboardingPanel::ready, "onboarding-ready"},
    };
    setPermission(false);
    for (const auto& entry : panels) {
        OnboardingWindow window(new OnboardingRootView(entry.panel, [] {}, [] {}));
        window.show();
        save(&window, QString::fromLatin1(entry.name));
    }

    QImage strip(QSize(4 * 48, 48) * 2, QImage::Format_ARGB32_Premultiplied);
    strip.setDevicePixelRatio(2);
    strip.fill(QColor(0x30, 0x30, 0x30));
    {
        QPainter painter(&strip);
        int x = 0;
        for (StatusDotState state :
             {StatusDotState::none, StatusDotState::permission, StatusDotState::working, StatusDotState::error}) {
            painter.drawImage(QRectF(x + 8, 8, 32, 32), StatusDot::render(state, 32, 2));
            x += 48;
        }
    }
    strip.save(QDir(outputDir).filePath(QStringLiteral("tray-icons.png")));
    return 0;
}
