#pragma once

#include "Vellox/app/OnboardingTypes.h"

#include <QCoroTask>
#include <QUrl>
#include <QWidget>

#include <functional>

class InlineStatus;
class LinkButton;
class PrimaryButton;
class QLabel;
class QLineEdit;
class QStackedWidget;
class QVariantAnimation;
class SegmentedControl;

// The first onboarding panel: pick a provider, paste a key, connect. The
// provider, key and connection live in the root view and survive panel
// changes; this panel edits them in place.
class ConnectPanel : public QWidget {
    Q_OBJECT
public:
    struct State {
        ProviderId provider = ProviderId::openaiCompatible;
        QString apiKey;
        ConnectionState connection;
        // Bumped by every submit, so only the latest submit's answer counts.
        quint64 submitGeneration = 0;
    };

    static constexpr int kColumnWidth = 360;
    static constexpr int kFlashMs = 600;
    static constexpr int kAdvanceMs = 250;
    static constexpr int kFocusDelayMs = 80;

    ConnectPanel(State& state, std::function<void()> onAdvance, QWidget* parent = nullptr);

    void submit();
    QCoro::Task<void> adoptSavedKeyIfPresent();
    static QUrl signupURL(ProviderId provider);
    static QString linkTitle(ProviderId provider);
    // The segments in order: OpenAI, Claude, Gemini.
    static const QList<ProviderId>& segmentProviders();

    // What the panel shows now, for tests and screenshots.
    QString shortcutTagline() const { return shortcutTagline_; }
    bool isErrorBorderShown() const { return showFieldErrorBorder_; }
    bool isConnectEnabled() const;
    QLineEdit* keyField() const { return keyField_; }
    SegmentedControl* providerPicker() const { return picker_; }
    InlineStatus* resultRow() const { return result_; }

    void pickProvider(ProviderId provider);

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QCoro::Task<void> appear();
    QCoro::Task<void> validate(quint64 generation, ProviderId provider, QString key);
    void setConnection(const ConnectionState& connection);
    void flashErrorBorder();
    void scheduleAdvance();
    void sync();

    State& state_;
    std::function<void()> onAdvance_;
    bool showFieldErrorBorder_ = false;
    QString shortcutTagline_ = QStringLiteral("⌃T");
    bool appeared_ = false;

    QLabel* tagline_;
    SegmentedControl* picker_;
    QLineEdit* keyField_;
    QWidget* errorBorder_;
    QVariantAnimation* borderFade_;
    QStackedWidget* connectArea_;
    PrimaryButton* connectButton_;
    InlineStatus* result_;
    LinkButton* signup_;
};
