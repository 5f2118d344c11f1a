#include "Vellox/app/MenuBarContentView.h"

#include "Vellox/app/InlineStatus.h"
#include "Vellox/app/LinkButton.h"
#include "Vellox/app/LinkOpening.h"
#include "Vellox/app/MenuRow.h"
#include "Vellox/app/MenuRowToggle.h"
#include "Vellox/app/OnboardingWindowController.h"
#include "Vellox/app/PrimaryButton.h"
#include "Vellox/app/SecondaryButton.h"
#include "Vellox/app/SectionLabel.h"
#include "Vellox/app/ShellWidgets.h"
#include "Vellox/app/SymbolImage.h"
#include "Vellox/app/UsageCountFormat.h"
#include "Vellox/app/VelloxTokens.h"
#include "Vellox/panels/UIWindowCoordinator.h"
#include "Vellox/rewrite/AppReadinessState.h"
#include "Vellox/rewrite/RewriteChromeState.h"
#include "Vellox/rewrite/RewriteFeedbackState.h"
#include "Vellox/rewrite/RewriteUsageStore.h"
#include "Vellox/settings/PreferencesStore.h"
#include "Vellox/settings/VelloxLogStore.h"
#include "platform/FileWrites.h"

#include <QCoroTask>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QVBoxLayout>

using namespace VelloxTokens;

namespace {

constexpr int kBannerVerticalPadding = 6;
constexpr int kErrorDotTopPadding = 5;

// One line of the status banner: a tone dot and a title on a faint
// divider-coloured card.
class BannerRow : public QWidget {
public:
    BannerRow(InlineStatus::Tone tone, const QString& title, QWidget* parent = nullptr)
        : QWidget(parent)
        , tone_(tone)
    {
        auto* layout = new QHBoxLayout(this);
        layout->setContentsMargins(int(Spacing::s), kBannerVerticalPadding, int(Spacing::s), kBannerVerticalPadding);
        layout->setSpacing(int(Spacing::s));
        dot_ = new QWidget(this);
        dot_->setFixedSize(6, 6);
        layout->addWidget(dot_, 0, Qt::AlignVCenter);
        layout->addWidget(ShellWidgets::text(title, Typography::body, Colors::textPrimary));
        layout->addStretch(1);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing, true);
        QPainterPath card;
        card.addRoundedRect(QRectF(rect()), Radius::control, Radius::control);
        QColor fill = Colors::divider.resolved(this);
        fill.setAlphaF(fill.alphaF() * 0.25);
        painter.fillPath(card, fill);
        painter.setPen(Qt::NoPen);
        painter.setBrush(InlineStatus::dotColor(tone_, this));
        painter.drawEllipse(QRectF(dot_->geometry()));
    }

private:
    InlineStatus::Tone tone_;
    QWidget* dot_;
};

// The error card behind the two banner rows: the danger colour at 8 %.
class ErrorCard : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing, true);
        QPainterPath card;
        card.addRoundedRect(QRectF(rect()), Radius::control, Radius::control);
        QColor fill = Colors::danger.resolved(this);
        fill.setAlphaF(0.08);
        painter.fillPath(card, fill);
    }
};

} // namespace

MenuBarContentView::MenuBarContentView(Actions actions, QWidget* parent)
    : QWidget(parent)
    , actions_(std::move(actions))
{
    setObjectName(QStringLiteral("MenuBarContentView"));
    setFixedWidth(kWidth);
    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(int(Spacing::s), int(Spacing::s), int(Spacing::s), int(Spacing::s));
    root->setSpacing(0);
    root->setSizeConstraint(QLayout::SetFixedSize);

    connect(&PreferencesStore::shared(), &PreferencesStore::settingsChanged, this, &MenuBarContentView::scheduleRebuild);
    connect(&RewriteChromeState::shared(), &RewriteChromeState::phaseChanged, this,
            &MenuBarContentView::scheduleRebuild);
    connect(&AppReadinessState::shared(), &AppReadinessState::permissionStatusChanged, this,
            &MenuBarContentView::scheduleRebuild);
    connect(&RewriteFeedbackState::shared(), &RewriteFeedbackState::lastErrorChanged, this,
            &MenuBarContentView::scheduleRebuild);
    connect(&RewriteUsageStore::shared(), &RewriteUsageStore::todayCountChanged, this,
            &MenuBarContentView::scheduleRebuild);
    rebuildNow();
}

QList<TonePreset> MenuBarContentView::visibleTones() const
{
    QList<TonePreset> tones = PreferencesStore::shared().settings().tonePresetsWithDefaultFirst();
    if (!showAllTones_ && tones.size() > kCollapsedToneCount)
        tones.resize(kCollapsedToneCount);
    return tones;
}

QString MenuBarContentView::usageFootnoteText() const
{
    return QStringLiteral("Rewrites today: ") + UsageCountFormat::format(RewriteUsageStore::shared().todayCount());
}

QString MenuBarContentView::actionTitle(RewriteFeedbackAction action)
{
    switch (action) {
    case RewriteFeedbackAction::openAccessibilitySettings:
        return QStringLiteral("Open Accessibility Settings");
    case RewriteFeedbackAction::openSettings:
        return QStringLiteral("Settings");
    case RewriteFeedbackAction::retryPermissionCheck:
        return QStringLiteral("Retry");
    }
    return {};
}

void MenuBarContentView::scheduleRebuild()
{
    // Rebuilding is deferred: the change may come from a click handler of a
    // row that the rebuild replaces.
    if (rebuildPending_)
        return;
    rebuildPending_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (rebuildPending_)
                rebuildNow();
        },
        Qt::QueuedConnection);
}

void MenuBarContentView::rebuildNow()
{
    rebuildPending_ = false;
    if (body_) {
        // Detached at once so the new content is the only one in the tree;
        // deleted later because a click handler inside it may still be running.
        body_->hide();
        body_->setParent(nullptr);
        body_->deleteLater();
    }
    body_ = new QWidget(this);
    body_->setFixedWidth(kWidth - 2 * int(Spacing::s));
    auto* column = new QVBoxLayout(body_);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    switch (AppReadinessState::shared().permissionStatus()) {
    case AccessibilityPermissionStatus::checking:
        buildLaunchPlaceholder(column);
        break;
    case AccessibilityPermissionStatus::denied:
        buildPermissionPrompt(column);
        break;
    case AccessibilityPermissionStatus::granted:
        buildMain(column);
        break;
    }
    static_cast<QVBoxLayout*>(layout())->addWidget(body_);
    body_->show();
    emit contentRebuilt();
}

void MenuBarContentView::buildMain(QVBoxLayout* root)
{
    addStatusBanner(root);

    auto* tones = new QVBoxLayout;
    tones->setSpacing(int(Spacing::xs));
    addToneSection(tones);
    root->addLayout(tones);

    if (RewriteUsageStore::shared().todayCount() >= 1) {
        addDivider(root);
        auto* footnote = ShellWidgets::text(usageFootnoteText(), Typography::caption, Colors::textTertiary);
        footnote->setObjectName(QStringLiteral("usageFootnote"));
        footnote->setContentsMargins(int(Spacing::s), int(Spacing::xs), int(Spacing::s), int(Spacing::xs));
        root->addWidget(footnote);
    }

    auto* footer = new QVBoxLayout;
    footer->setSpacing(1);
    addFooter(footer);
    root->addLayout(footer);
}

void MenuBarContentView::addStatusBanner(QVBoxLayout* root)
{
    if (RewriteChromeState::shared().phase() == RewriteChromeState::Phase::working) {
        addBannerRow(root, int(InlineStatus::Tone::neutral), QStringLiteral("Rewriting…"));
        return;
    }
    if (const auto& message = RewriteFeedbackState::shared().lastError())
        addErrorBanner(root, *message);
}

void MenuBarContentView::addBannerRow(QVBoxLayout* root, int tone, const QString& title)
{
    auto* row = new BannerRow(InlineStatus::Tone(tone), title);
    row->setObjectName(QStringLiteral("statusBanner"));
    root->addWidget(row);
    root->addSpacing(int(Spacing::xs));
}

void MenuBarContentView::addErrorBanner(QVBoxLayout* root, const RewriteFeedbackMessage& message)
{
    auto* card = new ErrorCard;
    card->setObjectName(QStringLiteral("errorBanner"));
    auto* stack = new QVBoxLayout(card);
    const int pad = int(Spacing::s);
    stack->setContentsMargins(pad, pad, pad, pad);
    stack->setSpacing(6);

    auto* top = new QHBoxLayout;
    top->setSpacing(int(Spacing::s));
    auto* dotColumn = new QVBoxLayout;
    dotColumn->setContentsMargins(0, kErrorDotTopPadding, 0, 0);
    dotColumn->addWidget(new ShellWidgets::Dot(Colors::danger, 6));
    dotColumn->addStretch(1);
    top->addLayout(dotColumn);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    texts->addWidget(ShellWidgets::text(QStringLiteral("Last rewrite failed"), Typography::headline, Colors::textPrimary));
    auto* detail = ShellWidgets::text(message.text, Typography::secondary, Colors::textSecondary, true);
    detail->setObjectName(QStringLiteral("errorText"));
    texts->addWidget(detail);
    top->addLayout(texts, 1);
    stack->addLayout(top);

    auto* actions = new QHBoxLayout;
    actions->setSpacing(int(Spacing::m));
    if (message.action) {
        const RewriteFeedbackAction action = *message.action;
        auto* remedy = new LinkButton(actionTitle(action), std::nullopt, [this, action] { runBannerAction(action); });
        remedy->setObjectName(QStringLiteral("remedyLink"));
        actions->addWidget(remedy);
    }
    auto* viewLog = new LinkButton(QStringLiteral("View log"), QStringLiteral("arrow.up.right"), [this] {
        openErrorLog();
        closeMenu();
    });
    viewLog->setObjectName(QStringLiteral("viewLogLink"));
    actions->addWidget(viewLog);
    actions->addSpacing(int(Spacing::m));
    actions->addStretch(1);
    auto* dismiss = new LinkButton(QStringLiteral("Dismiss"), std::nullopt, [this] {
        RewriteFeedbackState::shared().setLastError(std::nullopt);
        closeMenu();
    });
    dismiss->setObjectName(QStringLiteral("dismissButton"));
    dismiss->setColor(Colors::textSecondary);
    actions->addWidget(dismiss);
    stack->addLayout(actions);

    root->addWidget(card);
    root->addSpacing(int(Spacing::xs));
}

void MenuBarContentView::addToneSection(QVBoxLayout* root)
{
    auto* header = new QHBoxLayout;
    header->setContentsMargins(int(Spacing::s), int(Spacing::xs), int(Spacing::s), int(Spacing::xs));
    header->addWidget(new SectionLabel(QStringLiteral("Vellox")));
    header->addStretch(1);
    root->addLayout(header);

    auto* list = new QVBoxLayout;
    list->setSpacing(1);
    const AppSettings& settings = PreferencesStore::shared().settings();

    // Every choice row changes the settings and closes the popover.
    const auto choiceRow = [this](MenuRowBody::Content content, std::function<void(AppSettings&)> change) {
        return new MenuRow(std::move(content), [this, change = std::move(change)] {
            PreferencesStore::shared().updateSettings(change);
            closeMenu();
        });
    };

    auto* askEachTime = choiceRow({QStringLiteral("questionmark.bubble"), QStringLiteral("Ask each time"), std::nullopt,
                                   settings.askToneEachTime},
                                  [](AppSettings& s) { s.setAskToneEachTime(!s.askToneEachTime); });
    askEachTime->setObjectName(QStringLiteral("askEachTimeRow"));
    list->addWidget(askEachTime);

    auto* describe = choiceRow({QStringLiteral("text.bubble"), QStringLiteral("Describe the edit"), std::nullopt,
                                settings.askAICommandEachTime},
                               [](AppSettings& s) { s.setAskAICommandEachTime(!s.askAICommandEachTime); });
    describe->setObjectName(QStringLiteral("describeEditRow"));
    list->addWidget(describe);

    const bool askMode = settings.askToneEachTime || settings.askAICommandEachTime;
    for (const TonePreset& preset : visibleTones()) {
        const QUuid id = preset.id;
        auto* row = choiceRow({preset.menuSystemImage(), preset.name, std::nullopt,
                               !askMode && id == settings.defaultTonePresetId},
                              [id](AppSettings& s) { s.useDefaultTone(id); });
        row->setObjectName(QStringLiteral("toneRow"));
        row->setProperty("presetId", id);
        list->addWidget(row);
    }
    root->addLayout(list);

    if (settings.tonePresets.size() > kCollapsedToneCount) {
        auto* expand = new MenuRow({showAllTones_ ? QStringLiteral("chevron.up") : QStringLiteral("chevron.down"),
                                    showAllTones_ ? QStringLiteral("Show fewer") : QStringLiteral("All tones"),
                                    std::nullopt, false},
                                   [this] {
                                       showAllTones_ = !showAllTones_;
                                       scheduleRebuild();
                                   });
        expand->setObjectName(QStringLiteral("expandTonesRow"));
        root->addWidget(expand);
    }
}

void MenuBarContentView::addFooter(QVBoxLayout* root)
{
    auto* pause = new MenuRowToggle(std::nullopt, QStringLiteral("Pause Vellox"),
                                    Binding<bool>{[] { return !PreferencesStore::shared().settings().enabled; },
                                                  [](const bool& paused) {
                                                      PreferencesStore::shared().updateSettings(
                                                          [paused](AppSettings& s) { s.enabled = !paused; });
                                                  }});
    pause->setObjectName(QStringLiteral("pauseRow"));
    root->addWidget(pause);

    auto* settingsRow = new MenuRow({std::nullopt, QStringLiteral("Settings"), QStringLiteral("Ctrl+,"), false},
                                    [this] { openSettingsClosingMenuSnapshot(); });
    settingsRow->setObjectName(QStringLiteral("settingsRow"));
    root->addWidget(settingsRow);
    addQuitRow(root);
}

void MenuBarContentView::addQuitRow(QVBoxLayout* root)
{
    auto* quitRow = new MenuRow({std::nullopt, QStringLiteral("Quit Vellox"), QStringLiteral("Ctrl+Q"), false},
                                [this] { quit(); });
    quitRow->setObjectName(QStringLiteral("quitRow"));
    root->addWidget(quitRow);
}

void MenuBarContentView::addDivider(QVBoxLayout* root)
{
    root->addSpacing(int(Spacing::xs));
    root->addWidget(new ShellWidgets::Divider);
    root->addSpacing(int(Spacing::xs));
}

void MenuBarContentView::buildLaunchPlaceholder(QVBoxLayout* root)
{
    auto* stack = new QVBoxLayout;
    stack->setContentsMargins(int(Spacing::s), int(Spacing::xs), int(Spacing::s), int(Spacing::s));
    stack->setSpacing(int(Spacing::m));
    stack->addWidget(ShellWidgets::text(QStringLiteral("Vellox"), Typography::headline, Colors::textPrimary));
    stack->addWidget(ShellWidgets::text(QStringLiteral("Checking Accessibility permission… Use Settings for API key and "
                                                       "privacy steps when you’re ready."),
                                        Typography::secondary, Colors::textSecondary, true));
    auto* open = new PrimaryButton(QStringLiteral("Open Settings"), std::nullopt,
                                   [this] { openSettingsClosingMenuSnapshot(); });
    open->setObjectName(QStringLiteral("openSettingsButton"));
    stack->addWidget(open);
    auto* check = new SecondaryButton(QStringLiteral("Check permission now"),
                                      [] { AppReadinessState::shared().schedulePermissionRefresh(); });
    check->setObjectName(QStringLiteral("checkPermissionButton"));
    stack->addWidget(check);
    auto* holder = new QWidget;
    holder->setObjectName(QStringLiteral("launchPlaceholder"));
    holder->setLayout(stack);
    root->addWidget(holder);
    addDivider(root);
    addQuitRow(root);
}

void MenuBarContentView::buildPermissionPrompt(QVBoxLayout* root)
{
    auto* stack = new QVBoxLayout;
    stack->setContentsMargins(int(Spacing::s), int(Spacing::xs), int(Spacing::s), int(Spacing::s));
    stack->setSpacing(int(Spacing::m));
    auto* title = new QHBoxLayout;
    title->setSpacing(int(Spacing::s));
    auto* shield = new QLabel;
    QImage glyph(QSize(18, 18) * devicePixelRatioF(), QImage::Format_ARGB32_Premultiplied);
    glyph.setDevicePixelRatio(devicePixelRatioF());
    glyph.fill(Qt::transparent);
    {
        QPainter painter(&glyph);
        SymbolImage::paint(painter, QRectF(0, 0, 18, 18), QStringLiteral("lock.shield.fill"),
                           Colors::warning.resolved(this), 16);
    }
    shield->setPixmap(QPixmap::fromImage(glyph));
    title->addWidget(shield);
    title->addWidget(ShellWidgets::text(QStringLiteral("Resume Vellox"), Typography::headline, Colors::textPrimary));
    title->addStretch(1);
    stack->addLayout(title);
    stack->addWidget(ShellWidgets::text(QStringLiteral("Vellox needs Accessibility access to rewrite text in other apps."),
                                        Typography::secondary, Colors::textSecondary, true));
    auto* resume = new PrimaryButton(QStringLiteral("Resume"), std::nullopt, [this] {
        OnboardingWindowController::present(OnboardingWindowController::Presentation::accessibilityResume);
        closeMenu();
    });
    resume->setObjectName(QStringLiteral("resumeButton"));
    stack->addWidget(resume);
    auto* holder = new QWidget;
    holder->setObjectName(QStringLiteral("permissionPrompt"));
    holder->setLayout(stack);
    root->addWidget(holder);
    addDivider(root);
    addQuitRow(root);
}

void MenuBarContentView::runBannerAction(RewriteFeedbackAction action)
{
    switch (action) {
    case RewriteFeedbackAction::openAccessibilitySettings:
        AppReadinessState::shared().openAccessibilitySettingsAndWatch();
        closeMenu();
        break;
    case RewriteFeedbackAction::openSettings:
        openSettingsClosingMenuSnapshot();
        break;
    case RewriteFeedbackAction::retryPermissionCheck:
        // Queued, so the menu closes first and the task outlives this view.
        QMetaObject::invokeMethod(
            &AppReadinessState::shared(), [] { AppReadinessState::shared().refreshPermissionStatusAsync(); },
            Qt::QueuedConnection);
        closeMenu();
        break;
    }
}

void MenuBarContentView::openErrorLog()
{
    const QString path = VelloxLogStore::fileURL().toLocalFile();
    if (!QFileInfo::exists(path)) {
        // Made as the log store makes them: readable by the user alone.
        platform::makePrivateFolder(QFileInfo(path).absolutePath());
        QFile file(path);
        if (file.open(QIODevice::WriteOnly | QIODevice::Append, QFile::ReadOwner | QFile::WriteOwner))
            file.close();
    }
    LinkOpening::open(QUrl::fromLocalFile(path));
}

void MenuBarContentView::openSettingsClosingMenuSnapshot()
{
    closeMenu();
    // The window opens one turn later, after the popover has gone, so the
    // popover's closing cannot take the focus from the new window.
    auto openSettings = actions_.openSettings;
    QMetaObject::invokeMethod(
        &UIWindowCoordinator::shared(),
        [openSettings] {
            if (openSettings)
                openSettings();
            UIWindowCoordinator::shared().markSurfaceVisible(UIWindowCoordinator::Surface::settings);
        },
        Qt::QueuedConnection);
}

void MenuBarContentView::closeMenu()
{
    UIWindowCoordinator::shared().closeMenuPopoverIfOpen();
}

void MenuBarContentView::quit()
{
    closeMenu();
    if (actions_.terminate)
        actions_.terminate();
}

void MenuBarContentView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // The popover's own window reports itself, not whatever window has focus.
    if (QWidget* popover = window(); popover && popover != this)
        UIWindowCoordinator::setWindowIdentifier(popover, UIWindowCoordinator::menuPopoverWindowIdentifier);
    UIWindowCoordinator::shared().markSurfaceVisible(UIWindowCoordinator::Surface::menuPopover);
}

void MenuBarContentView::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    UIWindowCoordinator::shared().markSurfaceHidden(UIWindowCoordinator::Surface::menuPopover);
}
