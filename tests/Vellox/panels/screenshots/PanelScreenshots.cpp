// Renders each floating panel in its main states, in the light and the dark
// appearance, at twice the logical resolution, and saves them as PNGs:
//   panel_screenshots <output folder>
// The panels run through their real code with the in-memory desktop, on
// Qt's offscreen platform, so the pictures look the same on every machine.

#include "Vellox/panels/CustomInstructionPanel.h"
#include "Vellox/panels/CustomInstructionView.h"
#include "Vellox/panels/FeedbackHUD.h"
#include "Vellox/panels/FloatingPanel.h"
#include "Vellox/panels/RewriteBusySpinner.h"
#include "Vellox/panels/SelectionCoordinator.h"
#include "Vellox/panels/SymbolIcons.h"
#include "Vellox/panels/TonePickerPanel.h"

#include "platform/Platform.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPainter>
#include <QPalette>

#include <cstdio>
#include <functional>

namespace {

void settle(int ms = 300)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms)
        QApplication::processEvents(QEventLoop::AllEvents, 10);
}

QPalette paletteFor(bool dark)
{
    QPalette palette;
    if (dark) {
        palette.setColor(QPalette::Window, QColor(0x24, 0x24, 0x26));
        palette.setColor(QPalette::WindowText, Qt::white);
        palette.setColor(QPalette::Base, QColor(0x1e, 0x1e, 0x1e));
        palette.setColor(QPalette::Text, Qt::white);
        palette.setColor(QPalette::Button, QColor(0x33, 0x33, 0x35));
        palette.setColor(QPalette::ButtonText, Qt::white);
    } else {
        palette.setColor(QPalette::Window, QColor(0xf2, 0xf2, 0xf2));
        palette.setColor(QPalette::WindowText, Qt::black);
        palette.setColor(QPalette::Base, Qt::white);
        palette.setColor(QPalette::Text, Qt::black);
        palette.setColor(QPalette::Button, QColor(0xf2, 0xf2, 0xf2));
        palette.setColor(QPalette::ButtonText, Qt::black);
    }
    return palette;
}

// The panel on a plain desktop-like backdrop, so the card's shadow shows.
bool save(FloatingPanel* panel, const QString& folder, const QString& name, bool dark)
{
    if (!panel) {
        std::fprintf(stderr, "no panel for %s\n", qPrintable(name));
        return false;
    }
    const QPixmap shot = panel->grab();
    QImage image(shot.size(), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(shot.devicePixelRatio());
    image.fill(dark ? QColor(0x3a, 0x3d, 0x44) : QColor(0xdf, 0xe3, 0xe8));
    {
        QPainter p(&image);
        p.drawPixmap(0, 0, shot);
    }
    const QString path = QDir(folder).filePath(name + (dark ? QStringLiteral("-dark.png") : QStringLiteral("-light.png")));
    if (!image.save(path)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

QList<TonePreset> germanPresets()
{
    QList<TonePreset> presets = TonePreset::builtIns().mid(0, 6);
    const char* names[] = {"Professionell", "Locker und umgangssprachlich", "Freundlich", "Kürzer und prägnanter",
                           "Selbstbewusst", "Überzeugend formuliert"};
    for (int i = 0; i < presets.size(); ++i)
        presets[i].name = QString::fromUtf8(names[i]);
    return presets;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_SCALE_FACTOR", "2");
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: panel_screenshots <output folder>\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(folder);
    platform::PlatformGuard desktop;
    SymbolIcons::setUseThemeIcons(false);

    bool ok = true;
    for (const bool dark : {false, true}) {
        QApplication::setPalette(paletteFor(dark));

        {
            auto answer = TonePickerPanel::askUser(TonePreset::builtIns(), true);
            settle();
            SelectionCoordinator::shared().moveFocus(2);
            settle();
            ok &= save(TonePickerPanel::panel(), folder, QStringLiteral("tone-picker"), dark);
            TonePickerPanel::finish(std::nullopt);
        }
        {
            auto answer = TonePickerPanel::askUser(TonePreset::builtIns().mid(0, 5), false);
            settle();
            ok &= save(TonePickerPanel::panel(), folder, QStringLiteral("tone-picker-tones-only"), dark);
            TonePickerPanel::finish(std::nullopt);
        }
        {
            auto answer = TonePickerPanel::askUser(germanPresets(), true);
            settle();
            SelectionCoordinator::shared().moveFocus(3);
            settle();
            ok &= save(TonePickerPanel::panel(), folder, QStringLiteral("tone-picker-german"), dark);
            TonePickerPanel::finish(std::nullopt);
        }
        {
            auto answer = CustomInstructionPanel::prompt();
            settle();
            ok &= save(CustomInstructionPanel::panel(), folder, QStringLiteral("instruction-panel"), dark);
            if (auto* panel = CustomInstructionPanel::panel())
                static_cast<CustomInstructionView*>(panel->content())
                    ->field()
                    ->setText(QStringLiteral("Make it sound less formal and add a thank-you"));
            settle(50);
            ok &= save(CustomInstructionPanel::panel(), folder, QStringLiteral("instruction-panel-typed"), dark);
            CustomInstructionPanel::finish(std::nullopt);
        }
        const struct {
            const char* name;
            RewriteFeedbackMessage message;
        } notices[] = {
            {"notice-info", {QStringLiteral("Select text first, then press the shortcut."),
                             RewriteFeedbackMessage::Level::info, std::nullopt}},
            {"notice-success", {QStringLiteral("Shortcut saved."), RewriteFeedbackMessage::Level::success, std::nullopt}},
            {"notice-warning", {QStringLiteral("New text is on the clipboard — paste to finish."),
                                RewriteFeedbackMessage::Level::warning, std::nullopt}},
            {"notice-error", {QStringLiteral("Vellox needs Accessibility permission."),
                              RewriteFeedbackMessage::Level::error, RewriteFeedbackAction::openAccessibilitySettings}},
            {"notice-error-long",
             {QStringLiteral("The provider refused the request: the API key is not valid for this model. Check the "
                             "key and the model in the settings and try again."),
              RewriteFeedbackMessage::Level::error, RewriteFeedbackAction::openSettings}},
            {"notice-german", {QString::fromUtf8("Markiere zuerst einen Text und drücke dann das Tastenkürzel."),
                               RewriteFeedbackMessage::Level::info, RewriteFeedbackAction::retryPermissionCheck}},
        };
        for (const auto& notice : notices) {
            FeedbackHUD::present(notice.message, 30);
            settle();
            ok &= save(FeedbackHUD::panel(), folder, QString::fromLatin1(notice.name), dark);
        }
        FeedbackHUD::hide();

        RewriteBusySpinner::show();
        if (auto* panel = RewriteBusySpinner::panel())
            static_cast<RewriteBusySpinnerView*>(panel->content())->setFrozenAngle(40);
        settle(50);
        ok &= save(RewriteBusySpinner::panel(), folder, QStringLiteral("spinner"), dark);
        RewriteBusySpinner::hide();
        settle(50);
    }
    return ok ? 0 : 1;
}
