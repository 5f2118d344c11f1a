// Puts the shell's windows into their everyday states with in-memory
// platform services and saves each one as a PNG.
#include "Vellox/app/ConnectPanel.h"
#include "Vellox/app/InlineStatus.h"
#include "Vellox/app/MenuBarWindow.h"
#include "Vellox/app/OnboardingRootView.h"
#include "Vellox/app/OnboardingTypes.h"
#include "Vellox/app/OnboardingWindow.h"
#include "Vellox/app/PrimaryButton.h"
#include "Vellox/app/SettingsRootView.h"
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
#include "platform/fake/FakeCredentialStore.h"
#include "platform/fake/FakePlatform.h"

#include "support/TempHome.h"

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QPainter>
#include <QTest>

#include <QCoroTask>

#include <cstdio>

namespace {

QString outputDir;
// Set by a check that fails; the images are still written, to look at.
int status = 0;

void check(bool ok, const QString& what)
{
    if (!ok) {
        std::fprintf(stderr, "check failed: %s\n", qPrintable(what));
        status = 1;
    }
}

// No button title is cut while its button has the room for it.
void checkButtonTitles(QWidget* window, const QString& name)
{
    for (PrimaryButton* button : window->findChildren<PrimaryButton*>())
        if (button->isVisible())
            check(button->shownTitle() == button->title(),
                  QStringLiteral("%1: \"%2\" drawn as \"%3\" in %4 px")
                      .arg(name, button->title(), button->shownTitle())
                      .arg(button->width()));
}

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
        checkButtonTitles(&popover, QStringLiteral("popover-permission"));
        setPermission(true);
    }

    {
        SettingsWindow settings;
        settings.present();
        settings.resize(SettingsWindow::kIdealWidth, 640);
        save(&settings, QStringLiteral("settings"));
    }

    {
        // A keyring that refuses the key typed into the editor shown for a
        // missing key: the reason shows, the key stays.
        auto& store = platform::fake::as<platform::fake::FakeCredentialStore>(platform::Platform::current().credentials);
        store.failWrites(true);
        SettingsWindow settings;
        settings.present();
        settings.resize(SettingsWindow::kIdealWidth, 640);
        settle();
        SettingsRootView* view = settings.rootView();
        view->apiKeyField()->setText(QStringLiteral("sk-typed-key"));
        emit view->apiKeyField()->textEdited(view->apiKeyField()->text());
        view->finishApiKeyEditing();
        save(&settings, QStringLiteral("settings-key-refused"));
        check(view->apiKeyField()->text() == QStringLiteral("sk-typed-key"), QStringLiteral("the refused key left the field"));
        check(view->keyStatus()->tone() == InlineStatus::Tone::danger, QStringLiteral("no reason for the refused key"));
        store.failWrites(false);
    }

    {
        // Without the permission, the settings offer to open the
        // accessibility settings.
        setPermission(false);
        SettingsWindow settings;
        settings.present();
        settings.resize(SettingsWindow::kIdealWidth, 640);
        save(&settings, QStringLiteral("settings-permission"));
        setPermission(true);
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
        checkButtonTitles(&window, QString::fromLatin1(entry.name));
    }

    {
        // The longest message the connect panel shows wraps to two lines,
        // and its row grows to hold both.
        OnboardingKeyCheck::install([](ProviderId, QString) -> QCoro::Task<OnboardingKeyCheck::Result> {
            co_return OnboardingKeyCheck::Failure{
                QStringLiteral("Couldn't save the key. Check that your keyring is unlocked.")};
        });
        auto* root = new OnboardingRootView(OnboardingPanel::connect, [] {}, [] {});
        OnboardingWindow window(root);
        window.show();
        settle();
        auto* panel = qobject_cast<ConnectPanel*>(root->panelView());
        panel->keyField()->setText(QStringLiteral("sk-refused"));
        panel->submit();
        settle(1200);
        save(&window, QStringLiteral("onboarding-connect-error"));
        InlineStatus* row = panel->resultRow();
        const int oneLine = row->fontMetrics().height();
        check(row->heightForWidth(row->width()) > oneLine, QStringLiteral("the message fits one line; no wrap to check"));
        check(row->height() >= row->heightForWidth(row->width()),
              QStringLiteral("the status row is %1 px high, its text needs %2").arg(row->height()).arg(row->heightForWidth(row->width())));
        OnboardingKeyCheck::install({});
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

    // The icon as it sits in a dark panel and in a light one, at the 22
    // pixels a panel gives it.
    const struct {
        const char* name;
        QColor panel;
        QColor text;
    } panelsBars[] = {
        {"tray-dark-panel", QColor(0x1e, 0x1e, 0x1e), QColor(0xee, 0xee, 0xee)},
        {"tray-light-panel", QColor(0xf2, 0xf2, 0xf2), QColor(0x20, 0x20, 0x20)},
    };
    for (const auto& bar : panelsBars) {
        QImage image(QSize(260, 28) * 2, QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(2);
        image.fill(bar.panel);
        QPainter painter(&image);
        int x = 8;
        for (StatusDotState state :
             {StatusDotState::none, StatusDotState::permission, StatusDotState::working, StatusDotState::error}) {
            painter.drawImage(QRectF(x, 3, 22, 22), StatusDot::render(state, 22, 2));
            x += 34;
        }
        painter.setPen(bar.text);
        QFont clock = painter.font();
        clock.setPixelSize(13);
        painter.setFont(clock);
        painter.drawText(QRectF(x + 8, 0, 260 - x - 16, 28), Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("Fri 10:24"));
        painter.end();
        image.save(QDir(outputDir).filePath(QString::fromLatin1(bar.name) + QStringLiteral(".png")));
    }
    return status;
}
