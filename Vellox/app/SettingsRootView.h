#pragma once

#include "Vellox/settings/ProviderId.h"

#include <QCoroTask>
#include <QWidget>

class FormSection;
class InlineStatus;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class SwitchControl;

// The settings form: how the tone is chosen, the global shortcut, the
// provider with its key, model and base URL, and the Accessibility status.
// Every control writes straight through the settings store; the key goes to
// the credential store and is read only off the main thread.
class SettingsRootView : public QWidget {
    Q_OBJECT
public:
    static constexpr const char* kCustomModelTag = "__custom__";
    static constexpr double kDiagnosticsNoticeSeconds = 3;

    explicit SettingsRootView(QWidget* parent = nullptr);

    static QString providerLabel(ProviderId provider);

    bool hasPersistedKey() const { return hasPersistedKey_; }
    bool isEditingKey() const { return isEditingKey_; }
    // The model picker's selection: a suggested id or "__custom__".
    QString modelSelection() const;
    bool isCustomModelFieldShown() const;
    QString customModelWarning() const;

    // The controls, for tests and the window's own focus handling.
    SwitchControl* askEachTimeSwitch() const { return askEachTime_; }
    SwitchControl* describeEditSwitch() const { return describeEdit_; }
    QComboBox* defaultTonePicker() const { return tonePicker_; }
    QComboBox* providerPicker() const { return providerPicker_; }
    QComboBox* modelPicker() const { return modelPicker_; }
    QLineEdit* apiKeyField() const { return apiKeyField_; }
    QLineEdit* customModelField() const { return customModelField_; }
    QLineEdit* baseURLField() const { return baseURLField_; }
    QWidget* keyEditor() const { return keyEditor_; }
    QPushButton* editKeyButton() const { return editButton_; }
    QPushButton* saveKeyButton() const { return saveButton_; }
    InlineStatus* keyStatus() const { return keyStatus_; }
    InlineStatus* accessibilityStatus() const { return accessibilityStatus_; }
    QPushButton* openAccessibilityButton() const { return openAccessibility_; }
    QPushButton* diagnosticsButton() const { return diagnostics_; }

    void beginApiKeyEditing();
    void finishApiKeyEditing();
    QCoro::Task<void> refreshPersistedKeyForCurrentProvider();
    void runAccessibilityDiagnostics();

    // The diagnostics text put on the clipboard.
    static QString diagnosticsReport(qint64 pid, const QString& bundlePath, const QString& executablePath, bool trusted);

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QCoro::Task<void> loadKeyForEditing();
    // False when the store refused the key; keySaveError_ says why.
    bool saveApiKey();
    void leaveKeyEditing();
    void refreshPersistedKeyLater();
    void settingsChanged();
    void providerChanged();
    void sync();
    void syncTonePicker();
    void syncModelPicker();

    // The key editor's state.
    bool hasPersistedKey_ = false;
    bool isEditingKey_ = false;
    // Whether the field holds what the store holds (read in) or what the user
    // typed; until one of them is true, Save must not write the empty field,
    // which would delete the stored key.
    bool keyReadIn_ = false;
    bool keyTyped_ = false;
    // Why the last Save did not keep the key; shown in the status row while
    // the typed key stays in the field.
    QString keySaveError_;
    // Keeps the model name field while the user works in it, also when the
    // text passes through a known model id.
    bool customModelActive_ = false;
    ProviderId shownProvider_;
    quint64 editGeneration_ = 0;

    SwitchControl* askEachTime_;
    SwitchControl* describeEdit_;
    QComboBox* tonePicker_;
    QComboBox* providerPicker_;
    QWidget* keyGroup_;
    InlineStatus* keyStatus_;
    QPushButton* editButton_;
    QPushButton* saveButton_;
    QWidget* keyEditor_;
    QLineEdit* apiKeyField_;
    QWidget* modelRow_;
    QComboBox* modelPicker_;
    QWidget* customModelRow_;
    QLineEdit* customModelField_;
    InlineStatus* customModelWarning_;
    QWidget* baseURLRow_;
    QLineEdit* baseURLField_;
    InlineStatus* accessibilityStatus_;
    QPushButton* openAccessibility_;
    QPushButton* diagnostics_;
};
