#include "Vellox/app/SettingsRootView.h"

#include "Vellox/app/DetachedKeyRead.h"
#include "Vellox/app/FormSection.h"
#include "Vellox/app/InlineStatus.h"
#include "Vellox/app/RephraseShortcut.h"
#include "Vellox/app/ShellWidgets.h"
#include "Vellox/app/SwitchControl.h"
#include "Vellox/app/VelloxTokens.h"
#include "GlobalShortcuts/Recorder.h"
#include "Vellox/panels/UIWindowCoordinator.h"
#include "Vellox/rewrite/AppReadinessState.h"
#include "Vellox/rewrite/OnboardingValidator.h"
#include "Vellox/rewrite/RewriteSurfaces.h"
#include "Vellox/settings/AIModel.h"
#include "Vellox/settings/AIModelValidator.h"
#include "Vellox/settings/KeychainStore.h"
#include "Vellox/settings/LocalDebugConfig.h"
#include "Vellox/settings/PreferencesStore.h"
#include "Vellox/settings/VelloxLog.h"
#include "platform/AccessibilityTrust.h"
#include "platform/Pasteboard.h"
#include "platform/Platform.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

using namespace VelloxTokens;

namespace {

constexpr int kMinimumWidth = 520;
constexpr int kMinimumHeight = 480;
constexpr int kFieldWidth = 300;

QFont monospacedBody()
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPixelSize(Typography::body.pixelSize);
    return font;
}

QPushButton* smallBorderedButton(const QString& title)
{
    auto* button = new QPushButton(title);
    button->setAutoDefault(false);
    button->setFont(Typography::secondary.font());
    return button;
}

QStringList suggestedIds(ProviderId provider)
{
    QStringList ids;
    for (const AIModel& model : provider.suggestedAIModels())
        ids.append(model.modelId());
    return ids;
}

} // namespace

QString SettingsRootView::providerLabel(ProviderId provider)
{
    switch (provider) {
    case ProviderId::mock:
        return QStringLiteral("Local mock");
    case ProviderId::openaiCompatible:
        return QStringLiteral("OpenAI (ChatGPT / compatible)");
    case ProviderId::gemini:
        return QStringLiteral("Gemini");
    case ProviderId::anthropic:
        return QStringLiteral("Anthropic Claude");
    }
    return {};
}

SettingsRootView::SettingsRootView(QWidget* parent)
    : QWidget(parent)
    , shownProvider_(PreferencesStore::shared().settings().provider)
{
    setMinimumSize(kMinimumWidth, kMinimumHeight);
    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(int(Spacing::xl), int(Spacing::l), int(Spacing::xl), int(Spacing::xl));
    root->setSpacing(int(Spacing::l));

    // Rewrite
    auto* rewrite = new FormSection(QStringLiteral("Rewrite"));
    askEachTime_ = new SwitchControl(Binding<bool>{[] { return PreferencesStore::shared().settings().askToneEachTime; },
                                                   [](const bool& on) {
                                                       PreferencesStore::shared().updateSettings(
                                                           [on](AppSettings& s) { s.setAskToneEachTime(on); });
                                                   }});
    askEachTime_->setObjectName(QStringLiteral("askEachTimeSwitch"));
    rewrite->addRow(FormSection::labelledRow(QStringLiteral("Ask each time"), askEachTime_));
    describeEdit_ = new SwitchControl(
        Binding<bool>{[] { return PreferencesStore::shared().settings().askAICommandEachTime; },
                      [](const bool& on) {
                          PreferencesStore::shared().updateSettings(
                              [on](AppSettings& s) { s.setAskAICommandEachTime(on); });
                      }});
    describeEdit_->setObjectName(QStringLiteral("describeEditSwitch"));
    rewrite->addRow(FormSection::labelledRow(QStringLiteral("Describe the edit"), describeEdit_));
    tonePicker_ = new QComboBox;
    tonePicker_->setObjectName(QStringLiteral("defaultTonePicker"));
    tonePicker_->setMinimumWidth(200);
    connect(tonePicker_, &QComboBox::activated, this, [this](int index) {
        const QUuid id = tonePicker_->itemData(index).toUuid();
        PreferencesStore::shared().updateSettings([id](AppSettings& s) { s.useDefaultTone(id); });
    });
    rewrite->addRow(FormSection::labelledRow(QStringLiteral("Default tone"), tonePicker_));
    root->addWidget(rewrite);

    // Shortcut
    auto* shortcut = new FormSection(QStringLiteral("Shortcut"));
    auto* recorder = new GlobalShortcuts::Recorder(QStringLiteral("Rewrite selection"), RephraseShortcut::name());
    recorder->setObjectName(QStringLiteral("shortcutRecorder"));
    recorder->control()->setAccessibleName(QStringLiteral("Rewrite selection shortcut"));
    shortcut->addRow(recorder);
    shortcut->setFooter(QStringLiteral("Used by the global hotkey."));
    root->addWidget(shortcut);

    // API key
    auto* apiKey = new FormSection(QStringLiteral("API key"));
    providerPicker_ = new QComboBox;
    providerPicker_->setObjectName(QStringLiteral("providerPicker"));
    for (ProviderId provider : ProviderId::userFacingCases())
        providerPicker_->addItem(providerLabel(provider), provider.rawValue());
    connect(providerPicker_, &QComboBox::activated, this, [this](int index) {
        const auto provider = ProviderId::fromRawValue(providerPicker_->itemData(index).toString());
        if (!provider)
            return;
        // The model always follows, even when the same provider is chosen again.
        PreferencesStore::shared().updateSettings([provider](AppSettings& s) {
            s.provider = *provider;
            s.model = OnboardingValidator::defaultModel(*provider);
        });
    });
    apiKey->addRow(FormSection::labelledRow(QStringLiteral("Provider"), providerPicker_));

    keyGroup_ = new QWidget;
    auto* keyLayout = new QVBoxLayout(keyGroup_);
    keyLayout->setContentsMargins(0, 0, 0, 0);
    keyLayout->setSpacing(int(Spacing::s));
    auto* statusRow = new QHBoxLayout;
    statusRow->setSpacing(int(Spacing::s));
    auto* statusLabel = ShellWidgets::text(QStringLiteral("Status"), Typography::body, Colors::textSecondary);
    statusLabel->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    statusRow->addWidget(statusLabel);
    statusRow->addStretch(1);
    keyStatus_ = new InlineStatus(InlineStatus::Tone::warning, QStringLiteral("Not connected"));
    keyStatus_->setObjectName(QStringLiteral("keyStatus"));
    statusRow->addWidget(keyStatus_, 0, Qt::AlignVCenter);
    editButton_ = smallBorderedButton(QStringLiteral("Add key"));
    editButton_->setObjectName(QStringLiteral("editKeyButton"));
    connect(editButton_, &QPushButton::clicked, this, &SettingsRootView::beginApiKeyEditing);
    statusRow->addWidget(editButton_);
    keyLayout->addLayout(statusRow);

    keyEditor_ = new QWidget;
    keyEditor_->setObjectName(QStringLiteral("keyEditor"));
    auto* editor = new QVBoxLayout(keyEditor_);
    editor->setContentsMargins(0, 0, 0, 0);
    editor->setSpacing(int(Spacing::s));
    apiKeyField_ = new QLineEdit;
    apiKeyField_->setObjectName(QStringLiteral("settingsApiKeyField"));
    apiKeyField_->setEchoMode(QLineEdit::Password);
    apiKeyField_->setPlaceholderText(QStringLiteral("API key"));
    apiKeyField_->setAccessibleName(QStringLiteral("API key"));
    apiKeyField_->setFont(monospacedBody());
    apiKeyField_->installEventFilter(this);
    connect(apiKeyField_, &QLineEdit::textEdited, this, [this] {
        keyTyped_ = true;
        if (!keySaveError_.isEmpty()) {
            keySaveError_.clear();
            sync();
        }
    });
    editor->addWidget(apiKeyField_);

    modelPicker_ = new QComboBox;
    modelPicker_->setObjectName(QStringLiteral("modelPicker"));
    connect(modelPicker_, &QComboBox::activated, this, [this](int index) {
        const QString tag = modelPicker_->itemData(index).toString();
        const bool custom = tag == QLatin1String(kCustomModelTag);
        customModelActive_ = custom;
        PreferencesStore::shared().updateSettings([custom, tag](AppSettings& s) { s.model = custom ? QString() : tag; });
    });
    modelRow_ = FormSection::labelledRow(QStringLiteral("Model"), modelPicker_);
    editor->addWidget(modelRow_);

    customModelRow_ = new QWidget;
    auto* customLayout = new QVBoxLayout(customModelRow_);
    customLayout->setContentsMargins(0, 0, 0, 0);
    customLayout->setSpacing(int(Spacing::xs));
    customModelField_ = new QLineEdit;
    customModelField_->setObjectName(QStringLiteral("customModelField"));
    customModelField_->setPlaceholderText(QStringLiteral("Model name"));
    customModelField_->setAccessibleName(QStringLiteral("Model name"));
    customModelField_->setFont(monospacedBody());
    customModelField_->installEventFilter(this);
    connect(customModelField_, &QLineEdit::textEdited, this, [this](const QString& text) {
        customModelActive_ = true;
        PreferencesStore::shared().updateSettings([text](AppSettings& s) { s.model = text; });
    });
    customLayout->addWidget(customModelField_);
    customModelWarning_ = new InlineStatus(InlineStatus::Tone::warning, QString());
    customModelWarning_->setObjectName(QStringLiteral("customModelWarning"));
    customLayout->addWidget(customModelWarning_);
    editor->addWidget(customModelRow_);

    baseURLRow_ = new QWidget;
    auto* baseLayout = new QVBoxLayout(baseURLRow_);
    baseLayout->setContentsMargins(0, 0, 0, 0);
    baseURLField_ = new QLineEdit;
    baseURLField_->setObjectName(QStringLiteral("baseURLField"));
    baseURLField_->setPlaceholderText(QStringLiteral("Custom base URL (optional)"));
    baseURLField_->setAccessibleName(QStringLiteral("Custom base URL"));
    baseURLField_->installEventFilter(this);
    connect(baseURLField_, &QLineEdit::textEdited, this, [](const QString& text) {
        PreferencesStore::shared().updateSettings([text](AppSettings& s) { s.apiBaseURL = text; });
    });
    baseLayout->addWidget(baseURLField_);
    editor->addWidget(baseURLRow_);

    auto* saveRow = new QHBoxLayout;
    saveRow->addStretch(1);
    saveButton_ = new QPushButton(QStringLiteral("Save"));
    saveButton_->setObjectName(QStringLiteral("saveKeyButton"));
    saveButton_->setDefault(true);
    connect(saveButton_, &QPushButton::clicked, this, &SettingsRootView::finishApiKeyEditing);
    saveRow->addWidget(saveButton_);
    editor->addLayout(saveRow);
    keyLayout->addWidget(keyEditor_);
    apiKey->addRow(keyGroup_);
    root->addWidget(apiKey);

    // Permissions
    auto* permissions = new FormSection(QStringLiteral("Permissions"));
    accessibilityStatus_ = new InlineStatus(InlineStatus::Tone::neutral, QStringLiteral("Checking…"));
    accessibilityStatus_->setObjectName(QStringLiteral("accessibilityStatus"));
    permissions->addRow(FormSection::labelledRow(QStringLiteral("Accessibility"), accessibilityStatus_));
    openAccessibility_ = new QPushButton(QStringLiteral("Open Accessibility Settings"));
    openAccessibility_->setObjectName(QStringLiteral("openAccessibilityButton"));
    openAccessibility_->setAutoDefault(false);
    connect(openAccessibility_, &QPushButton::clicked, this,
            [] { AppReadinessState::shared().openAccessibilitySettingsAndWatch(); });
    auto* openRow = new QWidget;
    auto* openLayout = new QHBoxLayout(openRow);
    openLayout->setContentsMargins(0, 0, 0, 0);
    openLayout->addWidget(openAccessibility_);
    openLayout->addStretch(1);
    permissions->addRow(openRow);
    diagnostics_ = new QPushButton(QStringLiteral("Run Accessibility diagnostics"));
    diagnostics_->setObjectName(QStringLiteral("diagnosticsButton"));
    diagnostics_->setAutoDefault(false);
    connect(diagnostics_, &QPushButton::clicked, this, &SettingsRootView::runAccessibilityDiagnostics);
    auto* diagnosticsRow = new QWidget;
    auto* diagnosticsLayout = new QHBoxLayout(diagnosticsRow);
    diagnosticsLayout->setContentsMargins(0, 0, 0, 0);
    diagnosticsLayout->addWidget(diagnostics_);
    diagnosticsLayout->addStretch(1);
    permissions->addRow(diagnosticsRow);
    root->addWidget(permissions);
    root->addStretch(1);

    for (QLineEdit* field : {apiKeyField_, customModelField_, baseURLField_})
        field->setMinimumWidth(kFieldWidth);

    connect(&PreferencesStore::shared(), &PreferencesStore::settingsChanged, this, &SettingsRootView::settingsChanged);
    connect(&AppReadinessState::shared(), &AppReadinessState::permissionStatusChanged, this, &SettingsRootView::sync);
    sync();
}

QString SettingsRootView::modelSelection() const
{
    const AppSettings& settings = PreferencesStore::shared().settings();
    return suggestedIds(settings.provider).contains(settings.model) ? settings.model
                                                                    : QString::fromLatin1(kCustomModelTag);
}

bool SettingsRootView::isCustomModelFieldShown() const
{
    return !customModelRow_->isHidden() && !keyEditor_->isHidden() && !keyGroup_->isHidden();
}

QString SettingsRootView::customModelWarning() const
{
    return customModelWarning_->isHidden() ? QString() : customModelWarning_->text();
}

void SettingsRootView::settingsChanged()
{
    if (PreferencesStore::shared().settings().provider != shownProvider_)
        providerChanged();
    sync();
}

void SettingsRootView::providerChanged()
{
    shownProvider_ = PreferencesStore::shared().settings().provider;
    // An unsaved key typed for the previous provider is dropped.
    leaveKeyEditing();
    customModelActive_ = false;
    refreshPersistedKeyLater();
}

void SettingsRootView::beginApiKeyEditing()
{
    isEditingKey_ = true;
    keyReadIn_ = false;
    keyTyped_ = false;
    keySaveError_.clear();
    const quint64 generation = ++editGeneration_;
    sync();
    QPointer<SettingsRootView> self(this);
    QMetaObject::invokeMethod(
        this, [self] {
            if (self)
                self->apiKeyField_->setFocus(Qt::OtherFocusReason);
        },
        Qt::QueuedConnection);
    QMetaObject::invokeMethod(
        this, [self, generation] {
            if (self && self->editGeneration_ == generation)
                self->loadKeyForEditing();
        },
        Qt::QueuedConnection);
}

QCoro::Task<void> SettingsRootView::loadKeyForEditing()
{
    QPointer<SettingsRootView> self(this);
    const ProviderId provider = PreferencesStore::shared().settings().provider;
    const quint64 generation = editGeneration_;
    if (provider == ProviderId::mock)
        co_return;
    const QString key = co_await readApiKeyDetached(provider);
    if (!self || PreferencesStore::shared().settings().provider != provider || editGeneration_ != generation)
        co_return;
    // What the user typed meanwhile wins over the late read.
    if (keyTyped_)
        co_return;
    apiKeyField_->setText(key);
    keyReadIn_ = true;
}

void SettingsRootView::finishApiKeyEditing()
{
    const bool fieldIsKnown = keyReadIn_ || keyTyped_;
    bool refresh = false;
    if (fieldIsKnown) {
        if (!saveApiKey()) {
            // The editor stays open with the typed key in it, so a retry after
            // unlocking the keyring needs no retyping.
            sync();
            return;
        }
    } else {
        // Save before the stored key was read in: the empty field says nothing
        // about the key, so the stored one stays and is looked up again.
        refresh = true;
    }
    leaveKeyEditing();
    sync();
    if (refresh)
        refreshPersistedKeyLater();
}

bool SettingsRootView::saveApiKey()
{
    keySaveError_.clear();
    const ProviderId provider = PreferencesStore::shared().settings().provider;
    if (provider == ProviderId::mock)
        return true;
    const QString typed = apiKeyField_->text();
    switch (KeychainStore::setApiKey(typed, provider)) {
    case KeychainStore::SaveResult::Stored:
        hasPersistedKey_ = true;
        return true;
    case KeychainStore::SaveResult::Removed:
        hasPersistedKey_ = false;
        return true;
    case KeychainStore::SaveResult::NoKeyNeeded:
        hasPersistedKey_ = true;
        return true;
    case KeychainStore::SaveResult::RefusedControlCharacter:
        keySaveError_ = OnboardingValidator::invalidKeyMessage();
        break;
    case KeychainStore::SaveResult::Failed:
        keySaveError_ = OnboardingValidator::keyNotSavedMessage();
        break;
    }
    // The previous key stays in the store; the status follows what it holds.
    refreshPersistedKeyLater();
    return false;
}

// Any edit in flight is void from here on: a late read of the stored key
// checks the generation and leaves the field alone.
void SettingsRootView::leaveKeyEditing()
{
    isEditingKey_ = false;
    ++editGeneration_;
    keyReadIn_ = false;
    keyTyped_ = false;
    keySaveError_.clear();
    apiKeyField_->clearFocus();
    apiKeyField_->clear();
}

// Queued, so the look-up starts after the change that asked for it is done.
void SettingsRootView::refreshPersistedKeyLater()
{
    QPointer<SettingsRootView> self(this);
    QMetaObject::invokeMethod(
        this, [self] {
            if (self)
                self->refreshPersistedKeyForCurrentProvider();
        },
        Qt::QueuedConnection);
}

QCoro::Task<void> SettingsRootView::refreshPersistedKeyForCurrentProvider()
{
    QPointer<SettingsRootView> self(this);
    const ProviderId provider = PreferencesStore::shared().settings().provider;
    if (provider == ProviderId::mock) {
        hasPersistedKey_ = true;
        sync();
        co_return;
    }
    const QString key = co_await readApiKeyDetached(provider);
    if (!self || PreferencesStore::shared().settings().provider != provider)
        co_return;
    hasPersistedKey_ = !key.isEmpty();
    // A key typed into the editor shown for a missing key stays, like one
    // typed after "Add key": after a refused save it is what Save retries.
    const bool keepTyped = keyTyped_ && !hasPersistedKey_;
    if (!isEditingKey_ && !keepTyped) {
        apiKeyField_->clear();
        // With no stored key the empty field is exactly what the store holds.
        keyReadIn_ = !hasPersistedKey_;
        keyTyped_ = false;
        keySaveError_.clear();
    }
    sync();
}

QString SettingsRootView::diagnosticsReport(qint64 pid, const QString& bundlePath, const QString& executablePath,
                                            bool trusted)
{
    return QStringLiteral("Vellox Accessibility diagnostics\npid: ") + QString::number(pid)
        + QStringLiteral("\nbundlePath: ") + bundlePath + QStringLiteral("\nexecutablePath: ") + executablePath
        + QStringLiteral("\ntrustedBeforePrompt: ") + (trusted ? QStringLiteral("true") : QStringLiteral("false"));
}

void SettingsRootView::runAccessibilityDiagnostics()
{
    const platform::Platform& services = platform::Platform::current();
    const bool trusted = services.accessibilityTrust && services.accessibilityTrust->isTrusted();
    const QString executable = QCoreApplication::applicationFilePath();
    const QString report = diagnosticsReport(QCoreApplication::applicationPid(), QCoreApplication::applicationDirPath(),
                                             executable.isEmpty() ? QStringLiteral("unknown") : executable, trusted);
    if (services.pasteboard) {
        services.pasteboard->clear();
        services.pasteboard->setText(report);
    }
    // The prompt comes after the report is on the clipboard.
    if (services.accessibilityTrust)
        services.accessibilityTrust->prompt();
    VelloxLog::ui().info(report);
    RewriteFeedbackMessage notice;
    notice.text = QStringLiteral("Accessibility diagnostics copied to clipboard.");
    notice.level = RewriteFeedbackMessage::Level::info;
    RewriteSurfaces::current().presentNotice(notice, kDiagnosticsNoticeSeconds);
}

void SettingsRootView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    refreshPersistedKeyLater();
    AppReadinessState::shared().schedulePermissionRefresh();
    if (QWidget* host = window(); host && host != this)
        UIWindowCoordinator::setWindowIdentifier(host, UIWindowCoordinator::settingsWindowIdentifier);
    UIWindowCoordinator::shared().markSurfaceVisible(UIWindowCoordinator::Surface::settings);
    sync();
}

void SettingsRootView::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    UIWindowCoordinator::shared().markSurfaceHidden(UIWindowCoordinator::Surface::settings);
}

bool SettingsRootView::eventFilter(QObject* watched, QEvent* event)
{
    // Return in any field of the key editor is the Save button's shortcut.
    if (event->type() == QEvent::KeyPress
        && (watched == apiKeyField_ || watched == customModelField_ || watched == baseURLField_)) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            finishApiKeyEditing();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void SettingsRootView::syncTonePicker()
{
    const AppSettings& settings = PreferencesStore::shared().settings();
    const QList<TonePreset> presets = settings.tonePresetsWithDefaultFirst();
    QSignalBlocker block(tonePicker_);
    bool same = tonePicker_->count() == presets.size();
    for (int i = 0; same && i < presets.size(); ++i)
        same = tonePicker_->itemData(i).toUuid() == presets[i].id && tonePicker_->itemText(i) == presets[i].name;
    if (!same) {
        tonePicker_->clear();
        for (const TonePreset& preset : presets)
            tonePicker_->addItem(preset.name, preset.id);
    }
    tonePicker_->setCurrentIndex(tonePicker_->findData(settings.defaultTonePresetId));
    tonePicker_->setEnabled(!settings.askToneEachTime && !settings.askAICommandEachTime);
}

void SettingsRootView::syncModelPicker()
{
    const AppSettings& settings = PreferencesStore::shared().settings();
    const QList<AIModel> suggested = settings.provider.suggestedAIModels();
    QSignalBlocker block(modelPicker_);
    if (modelPicker_->property("provider").toString() != settings.provider.rawValue()) {
        modelPicker_->clear();
        for (const AIModel& model : suggested)
            modelPicker_->addItem(model.displayName(), model.modelId());
        modelPicker_->addItem(QStringLiteral("Custom…"), QString::fromLatin1(kCustomModelTag));
        modelPicker_->setProperty("provider", settings.provider.rawValue());
    }
    modelPicker_->setCurrentIndex(modelPicker_->findData(modelSelection()));
    modelRow_->setVisible(!suggested.isEmpty());

    const bool custom = modelSelection() == QLatin1String(kCustomModelTag);
    customModelRow_->setVisible(!suggested.isEmpty() && (custom || customModelActive_));
    if (customModelField_->text() != settings.model) {
        QSignalBlocker fieldBlock(customModelField_);
        customModelField_->setText(settings.model);
    }
    // A known id outside the suggestions is editable but not "custom".
    if (AIModel(settings.model).isCustom()) {
        customModelWarning_->set(InlineStatus::Tone::warning,
                                 AIModelValidator::warning(settings.model)
                                     .value_or(QStringLiteral("Custom model — may not be supported by your API key.")));
        customModelWarning_->setVisible(true);
    } else {
        customModelWarning_->setVisible(false);
    }
}

void SettingsRootView::sync()
{
    const AppSettings& settings = PreferencesStore::shared().settings();
    askEachTime_->refresh();
    describeEdit_->refresh();
    syncTonePicker();

    {
        QSignalBlocker block(providerPicker_);
        providerPicker_->setCurrentIndex(providerPicker_->findData(settings.provider.rawValue()));
    }
    keyGroup_->setVisible(settings.provider != ProviderId::mock);
    if (!keySaveError_.isEmpty())
        keyStatus_->set(InlineStatus::Tone::danger, keySaveError_);
    else
        keyStatus_->set(hasPersistedKey_ ? InlineStatus::Tone::success : InlineStatus::Tone::warning,
                        hasPersistedKey_ ? QStringLiteral("Connected") : QStringLiteral("Not connected"));
    editButton_->setText(hasPersistedKey_ ? QStringLiteral("Edit") : QStringLiteral("Add key"));
    keyEditor_->setVisible(isEditingKey_ || !hasPersistedKey_);
    syncModelPicker();
    baseURLRow_->setVisible(settings.provider == ProviderId::openaiCompatible);
    if (baseURLField_->text() != settings.apiBaseURL) {
        QSignalBlocker block(baseURLField_);
        baseURLField_->setText(settings.apiBaseURL);
    }

    switch (AppReadinessState::shared().permissionStatus()) {
    case AccessibilityPermissionStatus::checking:
        accessibilityStatus_->set(InlineStatus::Tone::neutral, QStringLiteral("Checking…"));
        break;
    case AccessibilityPermissionStatus::granted:
        accessibilityStatus_->set(InlineStatus::Tone::success, QStringLiteral("Granted"));
        break;
    case AccessibilityPermissionStatus::denied:
        accessibilityStatus_->set(InlineStatus::Tone::warning, QStringLiteral("Not granted"));
        break;
    }
    openAccessibility_->parentWidget()->setVisible(AppReadinessState::shared().permissionStatus()
                                                   == AccessibilityPermissionStatus::denied);
    diagnostics_->parentWidget()->setVisible(LocalDebugConfig::isEnabled(QStringLiteral("VELLOX_AX_DEBUG")));
}
