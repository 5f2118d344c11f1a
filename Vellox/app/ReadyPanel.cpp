#include "Vellox/app/ReadyPanel.h"

#include "Vellox/app/PrimaryButton.h"
#include "Vellox/app/RephraseShortcut.h"
#include "Vellox/app/SecondaryButton.h"
#include "Vellox/app/ShellWidgets.h"
#include "Vellox/app/VelloxTokens.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

using namespace VelloxTokens;

namespace {
constexpr int kTextWidth = 360;
constexpr int kNumberColumn = 22;
constexpr int kButtonWidth = 220;
} // namespace

ReadyPanel::ReadyPanel(std::function<void()> onDone, std::function<void()> onOpenSettings, QWidget* parent)
    : QWidget(parent)
    , onDone_(std::move(onDone))
    , onOpenSettings_(std::move(onOpenSettings))
{
    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(int(Spacing::l));

    auto* header = new QVBoxLayout;
    header->setSpacing(int(Spacing::xs));
    auto* title = ShellWidgets::text(QStringLiteral("You're set"), Typography::title, Colors::textPrimary);
    auto* subtitle = ShellWidgets::text(QStringLiteral("Here's how to use Vellox:"), Typography::body, Colors::textSecondary);
    for (QLabel* label : {title, subtitle}) {
        label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
        header->addWidget(label, 0, Qt::AlignHCenter);
    }
    root->addLayout(header);

    auto* steps = new QWidget;
    steps->setFixedWidth(kTextWidth);
    auto* stepsLayout = new QVBoxLayout(steps);
    stepsLayout->setContentsMargins(0, 0, 0, 0);
    stepsLayout->setSpacing(int(Spacing::s));
    stepsLayout->addWidget(readyStepLine(1, QStringLiteral("Select text in any app.")));
    stepsLayout->addWidget(readyStepLine(2, secondStepText(), &secondStep_));
    stepsLayout->addWidget(readyStepLine(3, QStringLiteral("Your selection is rewritten in place.")));
    root->addWidget(steps, 0, Qt::AlignHCenter);

    auto* tips = new QWidget;
    tips->setFixedWidth(kTextWidth);
    auto* tipsLayout = new QVBoxLayout(tips);
    tipsLayout->setContentsMargins(0, 0, 0, 0);
    tipsLayout->setSpacing(int(Spacing::xs));
    // Linux has no Services menu, so the tip about it is left out.
    for (const QString& tip : {QStringLiteral("Vellox lives in the system tray.")}) {
        auto* label = ShellWidgets::text(tip, Typography::secondary, Colors::textSecondary, true);
        ShellWidgets::fixWidth(label, kTextWidth);
        tipsLayout->addWidget(label);
    }
    root->addWidget(tips, 0, Qt::AlignHCenter);

    auto* buttons = new QVBoxLayout;
    buttons->setSpacing(int(Spacing::s));
    auto* done = new PrimaryButton(QStringLiteral("Got it"), std::nullopt, [this] {
        if (onDone_)
            onDone_();
    });
    done->setObjectName(QStringLiteral("gotItButton"));
    done->setFixedWidth(kButtonWidth);
    auto* settings = new SecondaryButton(QStringLiteral("Open Settings"), [this] {
        if (onOpenSettings_)
            onOpenSettings_();
    });
    settings->setObjectName(QStringLiteral("readyOpenSettingsButton"));
    settings->setFixedWidth(kButtonWidth);
    buttons->addWidget(done, 0, Qt::AlignHCenter);
    buttons->addWidget(settings, 0, Qt::AlignHCenter);
    root->addLayout(buttons);
    root->addStretch(1);
}

QString ReadyPanel::secondStepText() const
{
    return QStringLiteral("Press ") + shortcutDisplay_ + QStringLiteral(", or use the tray icon.");
}

void ReadyPanel::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    shortcutDisplay_ = RephraseShortcut::displayText();
    if (secondStep_) {
        secondStep_->setText(secondStepText());
        ShellWidgets::fixWidth(secondStep_, secondStep_->width());
    }
}

QWidget* ReadyPanel::readyStepLine(int number, const QString& text, QLabel** textLabel)
{
    auto* line = new QWidget;
    auto* layout = new QHBoxLayout(line);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(int(Spacing::s));
    auto* numberLabel = ShellWidgets::text(QString::number(number) + QLatin1Char('.'), Typography::body,
                                           Colors::textSecondary);
    numberLabel->setFont(Typography::body.font(QFont::DemiBold));
    numberLabel->setFixedWidth(kNumberColumn);
    numberLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    layout->addWidget(numberLabel, 0, Qt::AlignTop);
    auto* body = ShellWidgets::text(text, Typography::body, Colors::textPrimary, true);
    ShellWidgets::fixWidth(body, kTextWidth - kNumberColumn - int(Spacing::s));
    layout->addWidget(body, 1, Qt::AlignTop);
    if (textLabel)
        *textLabel = body;
    return line;
}
