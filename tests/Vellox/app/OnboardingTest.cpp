#include "AppTestSupport.h"

#include "Vellox/app/AccessibilityPanel.h"
#include "Vellox/app/ConnectPanel.h"
#include "Vellox/app/InlineStatus.h"
#include "Vellox/app/MenuBarContentView.h"
#include "Vellox/app/MenuBarWindow.h"
#include "Vellox/app/MenuRow.h"
#include "Vellox/app/OnboardingRootView.h"
#include "Vellox/app/PostOnboardingHint.h"
#include "Vellox/app/PrimaryButton.h"
#include "Vellox/app/ReadyPanel.h"
#include "Vellox/app/RephraseShortcut.h"
#include "Vellox/app/SegmentedControl.h"
#include "Vellox/app/SettingsRootView.h"
#include "Vellox/rewrite/SelectionAutomationError.h"
#include "GlobalShortcuts/Key.h"
#include "GlobalShortcuts/Modifiers.h"
#include "GlobalShortcuts/Shortcut.h"
#include "GlobalShortcuts/Storage.h"

#include <QCoroTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {

using namespace app_test;
using Kind = ConnectionState::Kind;

// A key check the test answers by hand, in any order.
class ScriptedValidator {
public:
    struct Call {
        ProviderId provider;
        QString key;
        std::shared_ptr<std::optional<OnboardingKeyCheck::Result>> answer;
    };

    OnboardingKeyCheck::Validator function()
    {
        return [this](ProviderId provider, QString key) -> QCoro::Task<OnboardingKeyCheck::Result> {
            auto answer = std::make_shared<std::optional<OnboardingKeyCheck::Result>>();
            calls.append({provider, key, answer});
            while (!answer->has_value())
                co_await QCoro::sleepFor(std::chrono::milliseconds(2));
            co_return **answer;
        };
    }

    void accept(int call) { *calls[call].answer = OnboardingKeyCheck::Result{}; }
    void reject(int call, const char* message)
    {
        *calls[call].answer = OnboardingKeyCheck::Result{OnboardingKeyCheck::Failure{QString::fromUtf8(message)}};
    }

    QList<Call> calls;
};

class OnboardingTest : public ShellTest {
protected:
    OnboardingTest() { OnboardingKeyCheck::install(validator.function()); }

    std::unique_ptr<OnboardingRootView> makeRoot(OnboardingPanel panel)
    {
        auto root = std::make_unique<OnboardingRootView>(panel, [this] { ++finished; }, [this] { ++accessibilityOpened; });
        root->show();
        QCoreApplication::processEvents();
        return root;
    }

    ConnectPanel* connect(OnboardingRootView& root) { return qobject_cast<ConnectPanel*>(root.panelView()); }

    bool completed() { return defaults().value(QString::fromLatin1(OnboardingWindowController::completedKey)).toBool(); }

    OnboardingPanel shownPanel()
    {
        auto* window = OnboardingWindowController::window();
        auto* root = window ? window->findChild<OnboardingRootView*>() : nullptr;
        return root ? root->panel() : OnboardingPanel::connect;
    }

    ScriptedValidator validator;
    int finished = 0;
    int accessibilityOpened = 0;
};

TEST_F(OnboardingTest, LaunchCheckMatrix)
{
    struct Case {
        const char* name;
        bool completedBefore;
        std::optional<ProviderId> savedKey;
        bool trusted;
        bool windowShown;
        OnboardingPanel panel;
        bool completedAfter;
    };
    const Case cases[] = {
        {"completed: nothing, no key read", true, ProviderId::gemini, false, false, OnboardingPanel::connect, true},
        {"key saved for Anthropic only: marked completed", false, ProviderId::anthropic, false, false,
         OnboardingPanel::connect, true},
        {"no key: connect panel", false, std::nullopt, true, true, OnboardingPanel::connect, false},
        {"no key, untrusted: still connect", false, std::nullopt, false, true, OnboardingPanel::connect, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OnboardingWindowController::resetForTesting();
        for (ProviderId provider : ProviderId::userFacingCases())
            KeychainStore::deleteApiKey(provider);
        if (c.savedKey)
            storeKey(*c.savedKey, QStringLiteral("saved-key"));
        if (c.completedBefore)
            defaults().setValue(QString::fromLatin1(OnboardingWindowController::completedKey), true);
        else
            defaults().remove(QString::fromLatin1(OnboardingWindowController::completedKey));
        setPermission(c.trusted);
        const int readsBefore = credentials().reads();

        OnboardingWindowController::presentIfNeeded();
        EXPECT_FALSE(OnboardingWindowController::isWindowVisible()) << "nothing happens inline";
        if (c.windowShown)
            test_support::spinUntil([] { return OnboardingWindowController::isWindowVisible(); });
        else
            QTest::qWait(150);
        EXPECT_EQ(OnboardingWindowController::isWindowVisible(), c.windowShown);
        if (c.windowShown) {
            EXPECT_EQ(shownPanel(), c.panel);
            QWidget* window = OnboardingWindowController::window();
            EXPECT_EQ(window->size(), QSize(480, 520));
            EXPECT_TRUE(window->windowTitle().isEmpty());
        }
        EXPECT_EQ(completed(), c.completedAfter);
        if (c.completedBefore) {
            EXPECT_EQ(credentials().reads(), readsBefore);
        }
    }
    EXPECT_TRUE(systemLog().messages().contains(QStringLiteral("presentIfNeeded: skip — saved API key found")));
}

TEST_F(OnboardingTest, FirstPanelDependsOnASavedKeyAndTrust)
{
    using Presentation = OnboardingWindowController::Presentation;
    struct Case {
        const char* name;
        bool savedKey;
        bool trusted;
        Presentation presentation;
        OnboardingPanel expected;
    };
    const Case cases[] = {
        {"key, no trust", true, false, Presentation::automatic, OnboardingPanel::accessibility},
        {"key and trust", true, true, Presentation::automatic, OnboardingPanel::connect},
        {"no key", false, false, Presentation::automatic, OnboardingPanel::connect},
        {"resume", false, true, Presentation::accessibilityResume, OnboardingPanel::accessibility},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        KeychainStore::deleteApiKey(ProviderId::gemini);
        if (c.savedKey)
            storeKey(ProviderId::gemini, QStringLiteral("g-key"));
        trust().trusted = c.trusted;
        const int readsBefore = credentials().reads();
        std::optional<OnboardingPanel> result;
        [](Presentation presentation, std::optional<OnboardingPanel>* out) -> QCoro::Task<void> {
            *out = co_await OnboardingWindowController::resolveInitialPanelAsync(presentation);
        }(c.presentation, &result);
        QTRY_VERIFY_WITH_TIMEOUT(result.has_value(), 20000);
        EXPECT_EQ(*result, c.expected);
        if (c.presentation == Presentation::accessibilityResume) {
            EXPECT_EQ(credentials().reads(), readsBefore) << "resuming touches no key";
        }
    }
}

TEST_F(OnboardingTest, ResumeReplacesAShownWindowWithAFreshOneOnTheAccessibilityPanel)
{
    OnboardingWindowController::present(OnboardingWindowController::Presentation::automatic);
    QTRY_VERIFY_WITH_TIMEOUT(OnboardingWindowController::isWindowVisible(), 20000);
    QPointer<QWidget> first = OnboardingWindowController::window();
    auto* root = first->findChild<OnboardingRootView*>();
    QTest::keyClicks(connect(*root)->keyField(), QStringLiteral("typed"));

    OnboardingWindowController::present(OnboardingWindowController::Presentation::accessibilityResume);
    QTRY_VERIFY_WITH_TIMEOUT(OnboardingWindowController::window() != first.data(), 20000);
    EXPECT_TRUE(first.isNull() || !first->isVisible());
    auto* fresh = OnboardingWindowController::window()->findChild<OnboardingRootView*>();
    EXPECT_EQ(fresh->panel(), OnboardingPanel::accessibility);
    EXPECT_EQ(fresh->connectState().connection, ConnectionState::idle());
    EXPECT_TRUE(fresh->connectState().apiKey.isEmpty());
}

TEST_F(OnboardingTest, BlankKeyCannotBeSubmitted)
{
    auto root = makeRoot(OnboardingPanel::connect);
    ConnectPanel* panel = connect(*root);
    QTest::keyClicks(panel->keyField(), QStringLiteral("   "));
    EXPECT_FALSE(panel->isConnectEnabled());
    QTest::keyClick(panel->keyField(), Qt::Key_Return);
    QCoreApplication::processEvents();
    EXPECT_TRUE(validator.calls.isEmpty());
    EXPECT_EQ(root->connectState().connection, ConnectionState::idle());
}

TEST_F(OnboardingTest, AssistiveTechnologyNamesEveryControlPicksProvidersAndFillsTheKey)
{
    auto root = makeRoot(OnboardingPanel::connect);
    ConnectPanel* panel = connect(*root);
    expectEveryControlNamed(*panel);
    QAccessibleInterface* field = QAccessible::queryAccessibleInterface(panel->keyField());
    EXPECT_EQ(field->text(QAccessible::Name), QStringLiteral("API key"));

    // The provider picker lists its choices as radio buttons and picks one
    // when asked to press it.
    QAccessibleInterface* picker = QAccessible::queryAccessibleInterface(panel->providerPicker());
    EXPECT_EQ(picker->text(QAccessible::Name), QStringLiteral("Provider"));
    ASSERT_EQ(picker->childCount(), 3);
    QStringList names;
    for (int i = 0; i < picker->childCount(); ++i) {
        EXPECT_EQ(picker->child(i)->role(), QAccessible::RadioButton);
        EXPECT_EQ(picker->indexOfChild(picker->child(i)), i);
        names.append(picker->child(i)->text(QAccessible::Name));
    }
    EXPECT_EQ(names, (QStringList{QStringLiteral("OpenAI"), QStringLiteral("Claude"), QStringLiteral("Gemini")}));
    EXPECT_TRUE(picker->child(0)->state().checked);
    picker->child(1)->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_EQ(root->connectState().provider, ProviderId::anthropic);
    EXPECT_TRUE(picker->child(1)->state().checked);
    EXPECT_FALSE(picker->child(0)->state().checked);

    // Text put in by assistive technology, not typed, still enables Connect
    // and is what Connect submits.
    ASSERT_FALSE(panel->isConnectEnabled());
    ASSERT_NE(field->editableTextInterface(), nullptr);
    field->editableTextInterface()->insertText(0, QStringLiteral("sk-from-a-password-manager"));
    EXPECT_TRUE(panel->isConnectEnabled());
    QMetaObject::invokeMethod(panel->findChild<QAbstractButton*>(QStringLiteral("connectButton")), "click");
    QTRY_COMPARE_WITH_TIMEOUT(validator.calls.size(), 1, 20000);
    EXPECT_EQ(validator.calls.first().key, QStringLiteral("sk-from-a-password-manager"));
    validator.reject(0, "Invalid API key");
    // The refusal is read from the status row.
    QAccessibleInterface* result = QAccessible::queryAccessibleInterface(panel->resultRow());
    EXPECT_EQ(result->role(), QAccessible::StatusBar);
    QTRY_COMPARE_WITH_TIMEOUT(result->text(QAccessible::Name), QStringLiteral("Invalid API key"), 20000);

    // The window is a frame with a name, though its title bar shows none.
    OnboardingWindowController::installOnboardingWindow(OnboardingPanel::connect);
    QWidget* window = OnboardingWindowController::window();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->windowTitle().isEmpty());
    QAccessibleInterface* frame = QAccessible::queryAccessibleInterface(window);
    EXPECT_EQ(frame->role(), QAccessible::Window);
    EXPECT_EQ(frame->text(QAccessible::Name), QStringLiteral("Welcome to Vellox"));
}

TEST_F(OnboardingTest, AcceptedKeyIsShownTrimmedAndMovesOnBySkippingAGrantedPermission)
{
    for (bool trusted : {true, false}) {
        SCOPED_TRACE(trusted ? "trusted" : "untrusted");
        setPermission(trusted);
        auto root = makeRoot(OnboardingPanel::connect);
        ConnectPanel* panel = connect(*root);
        const int call = int(validator.calls.size());
        QTest::keyClicks(panel->keyField(), QStringLiteral("  sk-live  "));
        QTest::keyClick(panel->keyField(), Qt::Key_Return);
        QTRY_COMPARE_WITH_TIMEOUT(validator.calls.size(), call + 1, 20000);
        EXPECT_EQ(validator.calls[call].key, QStringLiteral("sk-live"));
        EXPECT_EQ(root->connectState().connection.kind, Kind::validating);
        EXPECT_FALSE(panel->providerPicker()->isEnabled()) << "the provider is locked while checking";
        EXPECT_EQ(panel->resultRow()->text(), QStringLiteral("Checking"));

        validator.accept(call);
        QTRY_COMPARE_WITH_TIMEOUT(root->connectState().connection.kind, Kind::connected, 20000);
        EXPECT_EQ(panel->keyField()->text(), QStringLiteral("sk-live"));
        EXPECT_EQ(root->panel(), OnboardingPanel::connect) << "the advance waits 250 ms";
        const OnboardingPanel next = trusted ? OnboardingPanel::ready : OnboardingPanel::accessibility;
        QTRY_COMPARE_WITH_TIMEOUT(root->panel(), next, 20000);
    }
}

TEST_F(OnboardingTest, RejectedKeyFlashesTheBorderAndEditingClearsTheFailure)
{
    auto root = makeRoot(OnboardingPanel::connect);
    ConnectPanel* panel = connect(*root);
    QTest::keyClicks(panel->keyField(), QStringLiteral("sk-bad"));
    panel->submit();
    QTRY_COMPARE_WITH_TIMEOUT(validator.calls.size(), 1, 20000);
    validator.reject(0, "Invalid API key");
    QTRY_COMPARE_WITH_TIMEOUT(root->connectState().connection, ConnectionState::failed(QStringLiteral("Invalid API key")),
                              1000);
    EXPECT_EQ(panel->resultRow()->tone(), InlineStatus::Tone::danger);
    EXPECT_EQ(panel->keyField()->text(), QStringLiteral("sk-bad")) << "the key stays in the field";
    EXPECT_TRUE(panel->isErrorBorderShown());
    QTRY_VERIFY_WITH_TIMEOUT(!panel->isErrorBorderShown(), 20000);

    QTest::keyClicks(panel->keyField(), QStringLiteral("x"));
    EXPECT_EQ(root->connectState().connection, ConnectionState::idle());

    // A different provider after a failure starts idle too.
    panel->submit();
    QTRY_COMPARE_WITH_TIMEOUT(validator.calls.size(), 2, 20000);
    validator.reject(1, "Couldn't save the key. Check that your keyring is unlocked.");
    QTRY_COMPARE_WITH_TIMEOUT(root->connectState().connection.kind, Kind::failed, 20000);
    // The long message wraps, and its row is high enough for every line.
    InlineStatus* row = panel->resultRow();
    EXPECT_GT(row->heightForWidth(row->width()), row->fontMetrics().height());
    QTRY_VERIFY_WITH_TIMEOUT(row->height() >= row->heightForWidth(row->width()), 20000);
    panel->pickProvider(ProviderId::anthropic);
    EXPECT_EQ(root->connectState().connection, ConnectionState::idle());
    EXPECT_EQ(panel->resultRow()->isVisible(), false);
}

TEST_F(OnboardingTest, OnlyTheLatestSubmitsAnswerCounts)
{
    auto root = makeRoot(OnboardingPanel::connect);
    ConnectPanel* panel = connect(*root);
    QTest::keyClicks(panel->keyField(), QStringLiteral("sk-first"));
    QTest::keyClick(panel->keyField(), Qt::Key_Return);
    QTRY_COMPARE_WITH_TIMEOUT(validator.calls.size(), 1, 20000);
    // Return again while checking: a second validation.
    QTest::keyClick(panel->keyField(), Qt::Key_Return);
    QTRY_COMPARE_WITH_TIMEOUT(validator.calls.size(), 2, 20000);

    validator.reject(1, "Invalid API key");
    QTRY_COMPARE_WITH_TIMEOUT(root->connectState().connection.kind, Kind::failed, 20000);
    // The earlier submit answers last: it must not turn the state to connected.
    validator.accept(0);
    QTest::qWait(60);
    EXPECT_EQ(root->connectState().connection, ConnectionState::failed(QStringLiteral("Invalid API key")));
    QTest::qWait(ConnectPanel::kAdvanceMs + 50);
    EXPECT_EQ(root->panel(), OnboardingPanel::connect);
}

TEST_F(OnboardingTest, ASavedKeyForTheChosenProviderIsAdoptedWithoutARequest)
{
    storeKey(ProviderId::gemini, QStringLiteral("g-saved"));
    auto root = makeRoot(OnboardingPanel::connect);
    ConnectPanel* panel = connect(*root);
    panel->pickProvider(ProviderId::gemini);
    QTRY_COMPARE_WITH_TIMEOUT(root->connectState().connection.kind, Kind::connected, 20000);
    EXPECT_EQ(root->connectState().apiKey, QStringLiteral("g-saved"));
    EXPECT_TRUE(validator.calls.isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(root->panel() != OnboardingPanel::connect, 20000);
}

TEST_F(OnboardingTest, AccessibilityPanelWaitsForTheGrantThenMovesOnOnce)
{
    setPermission(false);
    auto root = makeRoot(OnboardingPanel::accessibility);
    auto* panel = qobject_cast<AccessibilityPanel*>(root->panelView());
    ASSERT_NE(panel, nullptr);
    ASSERT_TRUE(test_support::finishQueuedWork());
    EXPECT_EQ(panel->primaryAction()->title(), QStringLiteral("Open Accessibility Settings"));
    EXPECT_FALSE(panel->statusRow()->isVisible());

    panel->primaryAction()->click();
    EXPECT_EQ(accessibilityOpened, 1);
    EXPECT_TRUE(panel->isWaiting());
    EXPECT_EQ(panel->statusRow()->text(), QStringLiteral("Waiting for permission…"));

    trust().trusted = true; // the poll notices
    QTRY_COMPARE_WITH_TIMEOUT(AppReadinessState::shared().permissionStatus(), AccessibilityPermissionStatus::granted,
                              2000);
    EXPECT_TRUE(panel->grantedFlash());
    EXPECT_EQ(panel->statusRow()->text(), QStringLiteral("Permission granted"));
    EXPECT_EQ(panel->primaryAction()->title(), QStringLiteral("Continue"));
    QTRY_COMPARE_WITH_TIMEOUT(root->panel(), OnboardingPanel::ready, 20000);
}

TEST_F(OnboardingTest, ReadyPanelShowsTheRecordedShortcutElseTheDefault)
{
    auto root = makeRoot(OnboardingPanel::ready);
    auto* panel = qobject_cast<ReadyPanel*>(root->panelView());
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(panel->secondStepText(), QStringLiteral("Press ⌃T, or use the tray icon."));

    RephraseShortcut::name().setShortcut(GlobalShortcuts::Shortcut(
        GlobalShortcuts::Key::r, GlobalShortcuts::ModifierFlag::control | GlobalShortcuts::ModifierFlag::shift));
    auto again = makeRoot(OnboardingPanel::ready);
    EXPECT_TRUE(qobject_cast<ReadyPanel*>(again->panelView())->secondStepText().startsWith(QStringLiteral("Press ⌃⇧R")))
        << qobject_cast<ReadyPanel*>(again->panelView())->secondStepText().toStdString();
}

TEST_F(OnboardingTest, TextsPointToTheTrayAndTheKeyringNotToAMenuBarOrServices)
{
    QStringList texts;
    const auto collect = [&texts](QWidget& widget) {
        for (QLabel* label : widget.findChildren<QLabel*>())
            texts.append(label->text());
    };
    auto connectRoot = makeRoot(OnboardingPanel::connect);
    collect(*connectRoot);
    auto readyRoot = makeRoot(OnboardingPanel::ready);
    collect(*readyRoot);
    SettingsRootView settings;
    collect(settings);
    const QString shown = texts.join(QLatin1Char('\n'));
    for (const char* gone : {"menu bar", "Services", "Keychain", "right-click"})
        EXPECT_FALSE(shown.contains(QLatin1String(gone))) << gone;
    for (const char* wanted : {"Vellox lives in the system tray.", "Your API key stays in your keyring.",
                               "Press ⌃T, or use the tray icon.", "Used by the global hotkey."})
        EXPECT_TRUE(shown.contains(QString::fromUtf8(wanted))) << wanted;
}

TEST_F(OnboardingTest, KeysAndPlacesAreNamedAsOnLinux)
{
    MenuBarWindow popover([] {}, [] {});
    popover.popUp(QRect(600, 0, 24, 24));
    popover.content()->rebuildNow();
    const auto trailing = [&](const char* row) {
        auto* found = popover.findChild<MenuRow*>(QString::fromLatin1(row));
        return found ? found->content().trailingText.value_or(QString()) : QStringLiteral("<no row>");
    };
    EXPECT_EQ(trailing("settingsRow"), QStringLiteral("Ctrl+,"));
    EXPECT_EQ(trailing("quitRow"), QStringLiteral("Ctrl+Q"));
    EXPECT_EQ(MenuBarContentView::actionTitle(RewriteFeedbackAction::openAccessibilitySettings),
              QStringLiteral("Open Accessibility Settings"));
    popover.close();

    setPermission(false);
    auto accessibilityRoot = makeRoot(OnboardingPanel::accessibility);
    auto* panel = qobject_cast<AccessibilityPanel*>(accessibilityRoot->panelView());
    ASSERT_NE(panel, nullptr);
    QStringList steps;
    for (QLabel* label : panel->findChildren<QLabel*>())
        if (label->text().startsWith(QLatin1Char('1')) || label->text().startsWith(QLatin1Char('2'))
            || label->text().startsWith(QLatin1Char('3')))
            steps.append(label->text());
    EXPECT_EQ(steps, (QStringList{QStringLiteral("1. Vellox types through the X11 XTEST extension."),
                                  QStringLiteral("2. Log in to an X11 session where XTEST is enabled."),
                                  QStringLiteral("3. Return here — we'll detect permission automatically.")}));
    EXPECT_EQ(panel->primaryAction()->title(), QStringLiteral("Open Accessibility Settings"));

    SettingsRootView settings;
    EXPECT_EQ(settings.openAccessibilityButton()->text(), QStringLiteral("Open Accessibility Settings"));

    const SelectionAutomationError untrusted(SelectionAutomationError::Kind::accessibilityRequired);
    EXPECT_EQ(untrusted.errorDescription(), QStringLiteral("Vellox can't type into other windows in this session, so "
                                                           "it can't simulate Ctrl+C / Ctrl+V in the active window."));
    EXPECT_EQ(untrusted.recoverySuggestion(),
              QStringLiteral("Vellox types through the X11 XTEST extension. Log in to an X11 session (or one with "
                             "XWayland) where XTEST is enabled, then start Vellox again."));
}

TEST_F(OnboardingTest, FinishingRecordsCompletionClosesTheWindowAndHintsOnce)
{
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        OnboardingWindowController::installOnboardingWindow(OnboardingPanel::ready);
        ASSERT_TRUE(OnboardingWindowController::isWindowVisible());
        auto* gotIt = OnboardingWindowController::window()->findChild<QAbstractButton*>(QStringLiteral("gotItButton"));
        ASSERT_NE(gotIt, nullptr);
        gotIt->click();
        EXPECT_TRUE(completed());
        EXPECT_EQ(OnboardingWindowController::window(), nullptr);
        EXPECT_TRUE(surfaces.notices.isEmpty() || round == 1) << "the hint waits 400 ms";
        test_support::spinUntil([&] { return !surfaces.notices.isEmpty(); });
        // Time for a second hint, which must not come.
        QTest::qWait(OnboardingWindowController::kHintDelayMs + 100);
        ASSERT_EQ(surfaces.notices.size(), 1) << "shown once per installation";
        EXPECT_EQ(surfaces.notices[0].first.text, QStringLiteral("Try it: select text, then press ⌃T"));
        EXPECT_EQ(surfaces.notices[0].second, PostOnboardingHint::kSeconds);
    }
}

} // namespace
