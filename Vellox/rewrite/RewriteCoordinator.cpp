#include "RewriteCoordinator.h"

#include "Vellox/rewrite/AIProviderFactory.h"
#include "Vellox/rewrite/AppReadinessState.h"
#include "Vellox/rewrite/ProviderAIError.h"
#include "Vellox/rewrite/ProviderConfigurationError.h"
#include "Vellox/rewrite/RewriteChromeState.h"
#include "Vellox/rewrite/RewriteFeedbackState.h"
#include "Vellox/rewrite/RewriteSurfaces.h"
#include "Vellox/rewrite/RewriteUsageStore.h"
#include "Vellox/rewrite/SelectionAutomation.h"
#include "Vellox/rewrite/SelectionAutomationError.h"
#include "Vellox/settings/PreferencesStore.h"
#include "Vellox/settings/VelloxLog.h"
#include "Vellox/settings/VelloxLogStore.h"
#include "analytics/AnalyticsManager.h"
#include "platform/Pasteboard.h"
#include "platform/Platform.h"

#include <QCoroFuture>
#include <QElapsedTimer>
#include <QLocale>
#include <QMutex>
#include <QtConcurrent>

namespace {

using Level = RewriteFeedbackMessage::Level;
using Action = RewriteFeedbackAction;

// One flag shared by both roads; whoever sets it clears it. The lock is held
// for a test and a store, never across a suspension.
namespace RewriteOperationGate {

QMutex& lock()
{
    static QMutex mutex;
    return mutex;
}
bool inFlight = false;

bool tryEnter()
{
    QMutexLocker locker(&lock());
    if (inFlight)
        return false;
    inFlight = true;
    return true;
}

void release()
{
    QMutexLocker locker(&lock());
    inFlight = false;
}

} // namespace RewriteOperationGate

constexpr double kNoticeSeconds = 2.5;

const QString kPausedText = QStringLiteral("Vellox is paused.");
const QString kSelectFirstText = QStringLiteral("Select text first, then press the shortcut.");
const QString kPermissionText = QStringLiteral("Vellox needs Accessibility permission.");
const QString kTurnOnAccessibilityText = QStringLiteral("Turn on Accessibility for Vellox, then try again.");
const QString kUnreadableSelectionText = QStringLiteral("Couldn\u2019t read the selection.");
const QString kNoTextText = QStringLiteral("No text came back. Try again.");
const QString kPasteFailedText = QStringLiteral("New text is on the clipboard \u2014 paste to finish.");
const QString kGenericFailureText = QStringLiteral("Rewrite failed. Check your connection and API key in Settings.");
const QString kBaseURLText = QStringLiteral("Check the API base URL in Settings.");

RewriteFeedbackMessage errorMessage(const QString& text, std::optional<Action> action = std::nullopt)
{
    return {text, Level::error, action};
}

void recordFailure(const QString& code, const QString& msg, std::optional<QString> provider,
                   std::optional<QString> model, std::optional<QString> detail)
{
    VelloxLogStore::record({VelloxLogStore::Level::error, code, msg, std::move(provider), std::move(model),
                            std::move(detail)});
}

void track(const char* event, const char* trigger, const QString& provider, const QString& code = {})
{
    QVariantMap properties{{QStringLiteral("trigger"), QString::fromLatin1(trigger)},
                           {QStringLiteral("provider"), provider}};
    if (!code.isEmpty())
        properties.insert(QStringLiteral("code"), code);
    analytics::AnalyticsManager::track(QString::fromLatin1(event), properties);
}

TonePreset defaultTone(const AppSettings& settings)
{
    for (const TonePreset& preset : settings.tonePresets) {
        if (preset.id == settings.defaultTonePresetId)
            return preset;
    }
    return TonePreset::builtIns().first();
}

// Holds the gate for one run of a road and opens it on every way out.
class GateHold {
public:
    GateHold() = default;
    GateHold(const GateHold&) = delete;
    GateHold& operator=(const GateHold&) = delete;
    ~GateHold()
    {
        if (held_)
            RewriteOperationGate::release();
    }
    bool enter() { return held_ = RewriteOperationGate::tryEnter(); }

private:
    bool held_ = false;
};

} // namespace

RewriteCoordinator& RewriteCoordinator::shared()
{
    static auto* instance = new RewriteCoordinator; // lives until exit
    return *instance;
}

bool RewriteCoordinator::gateIsHeld()
{
    QMutexLocker locker(&RewriteOperationGate::lock());
    return RewriteOperationGate::inFlight;
}

RewriteFeedbackMessage RewriteCoordinator::mapRewriteError(const std::exception_ptr& error)
{
    try {
        std::rethrow_exception(error);
    } catch (const ProviderAIError& e) {
        return errorMessage(e.neutralUserSummary(), e.kind() == ProviderAIError::Kind::missingApiKey
                                                        ? std::optional(Action::openSettings)
                                                        : std::nullopt);
    } catch (const ProviderConfigurationError&) {
        return errorMessage(kBaseURLText, Action::openSettings);
    } catch (...) {
        return errorMessage(kGenericFailureText, Action::openSettings);
    }
}

QString RewriteCoordinator::logCode(const std::exception_ptr& error)
{
    try {
        std::rethrow_exception(error);
    } catch (const ProviderAIError& e) {
        switch (e.kind()) {
        case ProviderAIError::Kind::missingApiKey:
            return QStringLiteral("missing_api_key");
        case ProviderAIError::Kind::badResponse:
            return QStringLiteral("bad_response");
        case ProviderAIError::Kind::emptyContent:
            return QStringLiteral("empty_content");
        case ProviderAIError::Kind::httpStatus:
            return QStringLiteral("http_%1").arg(e.statusCode());
        }
    } catch (const SelectionAutomationError& e) {
        return e.kind() == SelectionAutomationError::Kind::accessibilityRequired ? QStringLiteral("permission_denied")
                                                                                 : QStringLiteral("key_event_failed");
    } catch (...) {
    }
    return QStringLiteral("unknown_error");
}

QCoro::Task<void> RewriteCoordinator::rephraseSelection(Trigger trigger)
{
    Q_UNUSED(trigger);
    const auto& log = VelloxLog::rewrite();
    GateHold gate;
    if (!gate.enter()) {
        log.debug(QStringLiteral("Skipped: rewrite operation already in flight"));
        co_return;
    }
    if (isBusy_) {
        log.debug(QStringLiteral("Skipped: already busy (trigger=%1)").arg(QStringLiteral("globalHotkey")));
        co_return;
    }
    RewriteSurfaces& surfaces = RewriteSurfaces::current();
    if (!PreferencesStore::shared().settings().enabled) {
        surfaces.presentNotice({kPausedText, Level::warning, std::nullopt}, kNoticeSeconds);
        co_return;
    }

    co_await AppReadinessState::shared().refreshPermissionStatusAsync();
    if (AppReadinessState::shared().permissionStatus() != AccessibilityPermissionStatus::granted) {
        RewriteFeedbackState::shared().setLastError(errorMessage(kPermissionText, Action::openAccessibilitySettings));
        recordFailure(QStringLiteral("permission_denied"), kPermissionText, std::nullopt, std::nullopt, std::nullopt);
        co_return;
    }

    // From here on every way out clears the busy flag and shows idle.
    isBusy_ = true;
    struct Finish {
        RewriteCoordinator* self;
        ~Finish()
        {
            self->isBusy_ = false;
            RewriteChromeState::shared().setPhase(RewriteChromeState::Phase::idle);
        }
    } finish{this};
    QElapsedTimer started;
    started.start();
    surfaces.closeSettingsWindowIfOpen();

    SelectionAutomation::Selection selection;
    std::exception_ptr readError;
    try {
        selection = co_await SelectionAutomation::readSelection();
    } catch (...) {
        readError = std::current_exception();
    }
    if (readError) {
        const QString description = localizedDescription(readError);
        log.error(QStringLiteral("Could not read selection: %1").arg(description));
        bool untrusted = false;
        try {
            std::rethrow_exception(readError);
        } catch (const SelectionAutomationError& e) {
            untrusted = e.kind() == SelectionAutomationError::Kind::accessibilityRequired;
        } catch (...) {
        }
        const RewriteFeedbackMessage message = untrusted
            ? errorMessage(kTurnOnAccessibilityText, Action::openAccessibilitySettings)
            : errorMessage(kUnreadableSelectionText);
        RewriteFeedbackState::shared().setLastError(message);
        recordFailure(untrusted ? QStringLiteral("permission_denied") : QStringLiteral("selection_read_failed"),
                      message.text, std::nullopt, std::nullopt, description);
        co_return;
    }

    const QString text = selection.text.trimmed();
    if (text.isEmpty()) {
        surfaces.presentNotice({kSelectFirstText, Level::warning, std::nullopt}, kNoticeSeconds);
        co_return;
    }

    const AppSettings settings = PreferencesStore::shared().settings();
    std::optional<AITransformMode> mode;
    QString modeLabel;
    bool askInstruction = false;
    if (settings.askToneEachTime) {
        const std::optional<TonePickerChoice> choice = co_await surfaces.askTone(settings.tonePresets, true);
        if (!choice) {
            log.debug(QStringLiteral("Tone picker cancelled by user"));
            co_return;
        }
        if (choice->isDescribeEdit()) {
            surfaces.closeMenuPopoverIfOpen();
            surfaces.closeSettingsWindowIfOpen();
            askInstruction = true;
        } else {
            mode = AITransformMode::tonePreset(choice->tonePreset());
            modeLabel = choice->tonePreset().name;
        }
    } else if (settings.askAICommandEachTime) {
        askInstruction = true;
    }
    if (askInstruction) {
        const std::optional<QString> instruction = co_await surfaces.askInstruction();
        if (!instruction) {
            log.debug(QStringLiteral("Custom instruction panel cancelled"));
            co_return;
        }
        const QString trimmed = instruction->trimmed();
        if (trimmed.isEmpty()) {
            log.debug(QStringLiteral("Custom instruction empty after trim"));
            co_return;
        }
        mode = AITransformMode::command(trimmed);
        modeLabel = QStringLiteral("describe_edit");
    }
    if (!mode) {
        const TonePreset tone = defaultTone(settings);
        mode = AITransformMode::tonePreset(tone);
        modeLabel = tone.name;
    }

    RewriteChromeState::shared().setPhase(RewriteChromeState::Phase::working);
    const QString provider = settings.provider.rawValue();
    log.info(QStringLiteral("Starting rewrite chars=%1 provider=%2 mode=%3").arg(text.size()).arg(provider, modeLabel));
    const bool silent = settings.silentRewrite;
    bool spinnerShowing = false;
    // The panels may be gone by the time the spinner is hidden; the
    // surfaces object itself lives as long as the program.
    auto hideSpinner = [&] {
        if (spinnerShowing) {
            spinnerShowing = false;
            RewriteSurfaces::current().hideSpinner();
        }
    };
    const std::shared_ptr<const AIProviderType> ai = AIProviderFactory::make(settings);
    track("rewrite_triggered", "hotkey", provider);

    QString answer;
    std::exception_ptr providerError;
    try {
        // The request goes out before the spinner is placed: placing it asks
        // the accessibility bus where the selection is, which can take tens
        // of milliseconds the user would otherwise wait on.
        QCoro::Task<QString> request = ai->transform(text, *mode);
        if (!silent) {
            surfaces.showSpinner();
            spinnerShowing = true;
        }
        answer = co_await std::move(request);
    } catch (...) {
        providerError = std::current_exception();
    }
    if (providerError) {
        const QString description = localizedDescription(providerError);
        log.error(QStringLiteral("Rewrite failed: %1").arg(description));
        const RewriteFeedbackMessage message = mapRewriteError(providerError);
        const QString code = logCode(providerError);
        RewriteFeedbackState::shared().setLastError(message);
        recordFailure(code, message.text, provider, settings.model, description);
        track("rewrite_failed", "hotkey", provider, code);
        hideSpinner();
        co_return;
    }

    if (answer.trimmed().isEmpty()) {
        RewriteFeedbackState::shared().setLastError(errorMessage(kNoTextText));
        recordFailure(QStringLiteral("empty_content"), kNoTextText, provider, settings.model, std::nullopt);
        track("rewrite_failed", "hotkey", provider, QStringLiteral("empty_content"));
        hideSpinner();
        co_return;
    }

    RewriteUsageStore::shared().recordSuccess();
    hideSpinner();
    std::exception_ptr pasteError;
    try {
        co_await SelectionAutomation::replaceSelection(answer, selection.window);
    } catch (...) {
        pasteError = std::current_exception();
    }
    if (pasteError) {
        if (const auto& board = platform::Platform::current().pasteboard) {
            board->clear();
            board->setText(answer);
        }
        RewriteFeedbackState::shared().setLastError(errorMessage(kPasteFailedText));
        recordFailure(QStringLiteral("paste_failed"), kPasteFailedText, provider, settings.model,
                      localizedDescription(pasteError));
        track("rewrite_failed", "hotkey", provider, QStringLiteral("paste_failed"));
        co_return;
    }

    RewriteFeedbackState::shared().setLastError(std::nullopt);
    log.info(QStringLiteral("Rewrite finished in %1ms").arg(QLocale().toString(double(started.elapsed()), 'f', 0)));
    track("rewrite_success", "hotkey", provider);
}

QCoro::Task<RewriteCoordinator::ServicesOutcome>
RewriteCoordinator::rephrasePasteboard(std::shared_ptr<ServicesPasteboard> pasteboard)
{
    const auto& log = VelloxLog::rewrite();
    GateHold gate;
    if (!gate.enter()) {
        log.debug(QStringLiteral("Skipped services rewrite: operation already in flight"));
        co_return ServicesOutcome{};
    }
    const QString text = pasteboard->text.value_or(QString()).trimmed();
    if (text.isEmpty())
        co_return ServicesOutcome{};
    const AppSettings settings = PreferencesStore::readSettings();
    if (!settings.enabled)
        co_return ServicesOutcome{};
    const TonePreset tone = defaultTone(settings);
    const QString provider = settings.provider.rawValue();
    track("rewrite_triggered", "services", provider);

    // The key read blocks for the credential store: keep it off the GUI thread.
    QFuture<std::shared_ptr<const AIProviderType>> made = QtConcurrent::run([settings] {
        return AIProviderFactory::make(settings);
    });
    const std::shared_ptr<const AIProviderType> ai = co_await made;
    QString answer;
    std::exception_ptr providerError;
    try {
        answer = co_await ai->transform(text, AITransformMode::tonePreset(tone));
    } catch (...) {
        providerError = std::current_exception();
    }
    if (providerError) {
        const QString description = localizedDescription(providerError);
        log.error(QStringLiteral("NSService rewrite failed: %1").arg(description));
        const RewriteFeedbackMessage message = mapRewriteError(providerError);
        const QString code = logCode(providerError);
        recordFailure(code, message.text, provider, settings.model, description);
        track("rewrite_failed", "services", provider, code);
        QMetaObject::invokeMethod(
            this, [message] { RewriteFeedbackState::shared().setLastError(message); }, Qt::QueuedConnection);
        co_return ServicesOutcome{message};
    }
    const QString trimmed = answer.trimmed();
    if (trimmed.isEmpty()) {
        track("rewrite_failed", "services", provider, QStringLiteral("empty_content"));
        co_return ServicesOutcome{errorMessage(kNoTextText)};
    }
    pasteboard->text = trimmed;
    track("rewrite_success", "services", provider);
    QMetaObject::invokeMethod(
        this,
        [] {
            RewriteUsageStore::shared().recordSuccess();
            RewriteFeedbackState::shared().setLastError(std::nullopt);
        },
        Qt::QueuedConnection);
    co_return ServicesOutcome{};
}
