#include "AppTestSupport.h"

#include "Vellox/app/InlineStatus.h"
#include "Vellox/app/SettingsRootView.h"
#include "Vellox/app/SettingsWindow.h"
#include "Vellox/app/SwitchControl.h"
#include "Vellox/rewrite/OnboardingValidator.h"
#include "platform/fake/FakePasteboard.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

namespace {

using namespace app_test;

class SettingsWindowTest : public ShellTest {
protected:
    SettingsRootView& open()
    {
        window = std::make_unique<SettingsWindow>();
        window->present();
        return *window->rootView();
    }
    SettingsRootView& view() { return *window->rootView(); }

    // Waits for the key reads the window started to land.
    void settleReads() { ASSERT_TRUE(test_support::finishQueuedWork()); }

    void chooseModel(const QString& tag)
    {
        QComboBox* picker = view().modelPicker();
        const int index = picker->findData(tag);
        ASSERT_GE(index, 0) << tag.toStdString();
        picker->setCurrentIndex(index);
        emit picker->activated(index);
    }

    const AppSettings& settings() { return PreferencesStore::shared().settings(); }

    std::unique_ptr<SettingsWindow> window;
};

TEST_F(SettingsWindowTest, AskTogglesExcludeEachOtherAndAToneChoiceEndsBoth)
{
    open();
    view().askEachTimeSwitch()->click();
    EXPECT_TRUE(settings().askToneEachTime);
    EXPECT_FALSE(view().defaultTonePicker()->isEnabled());

    view().describeEditSwitch()->click();
    EXPECT_TRUE(settings().askAICommandEachTime);
    EXPECT_FALSE(settings().askToneEachTime);
    EXPECT_FALSE(view().askEachTimeSwitch()->isOn());
    EXPECT_FALSE(PreferencesStore::readSettings().askToneEachTime && PreferencesStore::readSettings().askAICommandEachTime);

    // Turning one off leaves the other alone.
    view().describeEditSwitch()->click();
    EXPECT_FALSE(settings().askToneEachTime);
    EXPECT_FALSE(settings().askAICommandEachTime);

    view().describeEditSwitch()->click();
    QComboBox* tones = view().defaultTonePicker();
    EXPECT_EQ(tones->itemData(0).toUuid(), settings().defaultTonePresetId) << "the default is listed first";
    const QUuid wanted = tones->itemData(2).toUuid();
    emit tones->activated(2);
    EXPECT_EQ(settings().defaultTonePresetId, wanted);
    const QUuid chosen = PreferencesStore::shared().settings().defaultTonePresetId;
    EXPECT_EQ(view().defaultTonePicker()->itemData(0).toUuid(), chosen) << "the new default moves to the top";
    EXPECT_FALSE(settings().askToneEachTime);
    EXPECT_FALSE(settings().askAICommandEachTime);
    EXPECT_TRUE(view().defaultTonePicker()->isEnabled());
}

TEST_F(SettingsWindowTest, ProviderChangeResetsTheModelAndRereadsThatProvidersKey)
{
    storeKey(ProviderId::gemini, QStringLiteral("gemini-key"));
    open();
    settleReads();
    EXPECT_FALSE(view().hasPersistedKey());
    view().beginApiKeyEditing();
    QTest::keyClicks(view().apiKeyField(), QStringLiteral("unsaved"));

    struct Case {
        ProviderId provider;
        const char* model;
        bool hasKey;
        bool baseURL;
    };
    const Case cases[] = {
        {ProviderId::gemini, "gemini-2.5-flash", true, false},
        {ProviderId::anthropic, "claude-3-5-haiku-20241022", false, false},
        {ProviderId::openaiCompatible, "gpt-4o-mini", false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.provider.rawValue().toStdString());
        QComboBox* picker = view().providerPicker();
        const int index = picker->findData(c.provider.rawValue());
        picker->setCurrentIndex(index);
        emit picker->activated(index);
        EXPECT_EQ(settings().provider, c.provider);
        EXPECT_EQ(settings().model, QString::fromLatin1(c.model));
        EXPECT_FALSE(view().isEditingKey());
        EXPECT_TRUE(view().apiKeyField()->text().isEmpty()) << "an unsaved key is dropped";
        settleReads();
        EXPECT_EQ(view().hasPersistedKey(), c.hasKey);
        EXPECT_EQ(view().keyStatus()->text(), c.hasKey ? QStringLiteral("Connected") : QStringLiteral("Not connected"));
        EXPECT_EQ(view().keyEditor()->isVisible(), !c.hasKey);
        EXPECT_EQ(view().baseURLField()->isVisibleTo(&view()), c.baseURL);
    }
    EXPECT_EQ(storedKey(ProviderId::openaiCompatible), QString()) << "nothing typed was saved";

    QTest::keyClicks(view().baseURLField(), QStringLiteral(" http://127.0.0.1:9/v1 "));
    EXPECT_EQ(settings().apiBaseURL, QStringLiteral(" http://127.0.0.1:9/v1 ")) << "stored as typed";
}

TEST_F(SettingsWindowTest, CustomModelFieldStaysWhileTypingAKnownIdAndWarnsAboutCustomNames)
{
    open();
    settleReads();
    chooseModel(QString::fromLatin1(SettingsRootView::kCustomModelTag));
    EXPECT_EQ(settings().model, QString());
    ASSERT_TRUE(view().isCustomModelFieldShown());
    EXPECT_EQ(view().customModelWarning(), QStringLiteral("Model name cannot be empty."));

    // On the way through "gpt-4o" the field stays, and the picker follows.
    view().customModelField()->setFocus();
    QTest::keyClicks(view().customModelField(), QStringLiteral("gpt-4o"));
    EXPECT_EQ(settings().model, QStringLiteral("gpt-4o"));
    EXPECT_TRUE(view().isCustomModelFieldShown());
    EXPECT_EQ(view().modelSelection(), QStringLiteral("gpt-4o"));
    QTest::keyClicks(view().customModelField(), QStringLiteral("-preview-x"));
    EXPECT_EQ(settings().model, QStringLiteral("gpt-4o-preview-x"));
    EXPECT_EQ(view().modelSelection(), QString::fromLatin1(SettingsRootView::kCustomModelTag));
    EXPECT_TRUE(view().customModelWarning().contains(QStringLiteral("-preview")));

    struct Case {
        const char* model;
        const char* warning; // empty: no warning line
    };
    const Case cases[] = {
        {"my-model-20241022", "Model name ends with a date snapshot suffix"},
        {"my-model", "Custom model — may not be supported by your API key."},
        {"gpt-4.1-mini", ""}, // a known id, just not suggested
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.model);
        view().customModelField()->clear();
        QTest::keyClicks(view().customModelField(), QString::fromUtf8(c.model));
        EXPECT_EQ(settings().model, QString::fromUtf8(c.model));
        EXPECT_TRUE(view().isCustomModelFieldShown());
        if (*c.warning) {
            EXPECT_TRUE(view().customModelWarning().startsWith(QString::fromUtf8(c.warning)))
                << view().customModelWarning().toStdString();
        } else {
            EXPECT_TRUE(view().customModelWarning().isEmpty()) << view().customModelWarning().toStdString();
        }
    }

    // Picking a suggested model puts the field away.
    chooseModel(QStringLiteral("gpt-4o-mini"));
    EXPECT_FALSE(view().isCustomModelFieldShown());
}

TEST_F(SettingsWindowTest, AKnownIdOutsideTheSuggestionsOpensAsEditable)
{
    PreferencesStore::shared().updateSettings([](AppSettings& s) { s.model = QStringLiteral("gpt-4.1-mini"); });
    open();
    settleReads();
    EXPECT_EQ(view().modelSelection(), QString::fromLatin1(SettingsRootView::kCustomModelTag));
    EXPECT_TRUE(view().isCustomModelFieldShown());
    EXPECT_EQ(view().customModelField()->text(), QStringLiteral("gpt-4.1-mini"));
    EXPECT_TRUE(view().customModelWarning().isEmpty());
}

TEST_F(SettingsWindowTest, SavingBeforeTheStoredKeyIsReadInKeepsTheStoredKey)
{
    storeKey(ProviderId::openaiCompatible, QStringLiteral("sk-stored"));
    credentials().close();
    open();
    QCoreApplication::processEvents();
    // The editor shows (no key known yet); Return in the empty field would
    // delete the stored key if it were saved.
    ASSERT_TRUE(view().keyEditor()->isVisible());
    view().apiKeyField()->setFocus();
    QTest::keyClick(view().apiKeyField(), Qt::Key_Return);
    credentials().open();
    settleReads();
    EXPECT_EQ(storedKey(ProviderId::openaiCompatible), QStringLiteral("sk-stored"));
    EXPECT_TRUE(view().hasPersistedKey());

    // The same through Edit: Save before the read lands keeps the key.
    credentials().close();
    view().beginApiKeyEditing();
    QCoreApplication::processEvents();
    view().finishApiKeyEditing();
    credentials().open();
    settleReads();
    EXPECT_EQ(storedKey(ProviderId::openaiCompatible), QStringLiteral("sk-stored"));
    EXPECT_EQ(view().keyStatus()->text(), QStringLiteral("Connected"));
}

TEST_F(SettingsWindowTest, ALateKeyReadNeverOverwritesTypedText)
{
    storeKey(ProviderId::openaiCompatible, QStringLiteral("sk-stored"));
    open();
    settleReads();
    ASSERT_TRUE(view().hasPersistedKey());

    credentials().close();
    view().editKeyButton()->click();
    QCoreApplication::processEvents();
    QTest::keyClicks(view().apiKeyField(), QStringLiteral("sk-typed"));
    credentials().open();
    settleReads();
    EXPECT_EQ(view().apiKeyField()->text(), QStringLiteral("sk-typed"));
    QTest::keyClick(view().apiKeyField(), Qt::Key_Return);
    EXPECT_EQ(storedKey(ProviderId::openaiCompatible), QStringLiteral("sk-typed"));
    EXPECT_FALSE(view().isEditingKey());
    EXPECT_TRUE(view().apiKeyField()->text().isEmpty());
}

TEST_F(SettingsWindowTest, EditOpensPrefilledAndSavingABlankFieldDeletesTheKey)
{
    storeKey(ProviderId::openaiCompatible, QStringLiteral("sk-stored"));
    open();
    settleReads();
    EXPECT_FALSE(view().keyEditor()->isVisible());
    EXPECT_EQ(view().editKeyButton()->text(), QStringLiteral("Edit"));

    view().editKeyButton()->click();
    settleReads();
    EXPECT_TRUE(view().keyEditor()->isVisible());
    EXPECT_EQ(view().apiKeyField()->text(), QStringLiteral("sk-stored"));
    EXPECT_EQ(view().apiKeyField()->echoMode(), QLineEdit::Password);

    view().apiKeyField()->selectAll();
    QTest::keyClick(view().apiKeyField(), Qt::Key_Backspace);
    QTest::keyClick(view().apiKeyField(), Qt::Key_Return);
    EXPECT_EQ(storedKey(ProviderId::openaiCompatible), QString());
    EXPECT_EQ(view().keyStatus()->text(), QStringLiteral("Not connected"));
    EXPECT_EQ(view().editKeyButton()->text(), QStringLiteral("Add key"));
    EXPECT_TRUE(view().keyEditor()->isVisible());
}

TEST_F(SettingsWindowTest, ARefusedKeyStaysInTheFieldWithTheReasonInTheStatusRow)
{
    storeKey(ProviderId::openaiCompatible, QStringLiteral("sk-old"));
    open();
    settleReads();
    view().editKeyButton()->click();
    settleReads();
    credentials().failWrites(true);
    view().apiKeyField()->selectAll();
    QTest::keyClicks(view().apiKeyField(), QStringLiteral("sk-new"));
    QTest::keyClick(view().apiKeyField(), Qt::Key_Return);
    settleReads();
    EXPECT_TRUE(view().isEditingKey());
    EXPECT_TRUE(view().keyEditor()->isVisible());
    EXPECT_EQ(view().apiKeyField()->text(), QStringLiteral("sk-new"));
    EXPECT_EQ(view().keyStatus()->text(), QStringLiteral("Couldn't save the key. Check that your keyring is unlocked."));
    EXPECT_EQ(view().keyStatus()->tone(), InlineStatus::Tone::danger);
    EXPECT_EQ(storedKey(ProviderId::openaiCompatible), QStringLiteral("sk-old"));

    // Once the keyring takes it, the same text is saved without retyping.
    credentials().failWrites(false);
    view().saveKeyButton()->click();
    settleReads();
    EXPECT_EQ(storedKey(ProviderId::openaiCompatible), QStringLiteral("sk-new"));
    EXPECT_FALSE(view().isEditingKey());
    EXPECT_EQ(view().keyStatus()->text(), QStringLiteral("Connected"));
}

TEST_F(SettingsWindowTest, AKeyTypedWithNoKeyStoredOutlivesARefusedSaveInEveryEntryState)
{
    struct Case {
        const char* name;
        bool pressAddKeyFirst;
    };
    const Case cases[] = {
        {"typed straight into the editor shown for a missing key", false},
        {"typed after Add key", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        storeKey(ProviderId::openaiCompatible, QString());
        credentials().failWrites(false);
        open();
        settleReads();
        ASSERT_FALSE(view().hasPersistedKey());
        ASSERT_TRUE(view().keyEditor()->isVisible());
        ASSERT_EQ(view().editKeyButton()->text(), QStringLiteral("Add key"));
        if (c.pressAddKeyFirst) {
            view().editKeyButton()->click();
            settleReads();
        }
        // The keyring refuses, as when its unlock prompt is cancelled.
        credentials().failWrites(true);
        view().apiKeyField()->setFocus();
        QTest::keyClicks(view().apiKeyField(), QStringLiteral("sk-typed-once"));
        view().saveKeyButton()->click();
        // The status lookup the refusal asks for lands meanwhile.
        settleReads();
        settleReads();
        EXPECT_EQ(view().apiKeyField()->text(), QStringLiteral("sk-typed-once"));
        EXPECT_TRUE(view().keyEditor()->isVisible());
        EXPECT_EQ(view().keyStatus()->text(), OnboardingValidator::keyNotSavedMessage());
        EXPECT_EQ(view().keyStatus()->tone(), InlineStatus::Tone::danger);
        EXPECT_EQ(storedKey(ProviderId::openaiCompatible), QString());

        // Unlocked, Save stores the very text that stayed.
        credentials().failWrites(false);
        view().saveKeyButton()->click();
        settleReads();
        EXPECT_EQ(storedKey(ProviderId::openaiCompatible), QStringLiteral("sk-typed-once"));
        EXPECT_EQ(view().keyStatus()->text(), QStringLiteral("Connected"));
        EXPECT_FALSE(view().keyEditor()->isVisible());
        window.reset();
    }
}

TEST_F(SettingsWindowTest, EveryControlHasANameForScreenReaders)
{
    qputenv("VELLOX_AX_DEBUG", "1");
    setPermission(false);
    open();
    settleReads();
    expectEveryControlNamed(view());
    EXPECT_EQ(QAccessible::queryAccessibleInterface(view().askEachTimeSwitch())->text(QAccessible::Name),
              QStringLiteral("Ask each time"));
    qunsetenv("VELLOX_AX_DEBUG");

    // The window is a frame with its title for a name, and its status rows
    // are read, not only painted.
    QAccessibleInterface* frame = QAccessible::queryAccessibleInterface(window.get());
    EXPECT_EQ(frame->role(), QAccessible::Window);
    EXPECT_EQ(frame->text(QAccessible::Name), QStringLiteral("Vellox Settings"));
    for (InlineStatus* status : {view().keyStatus(), view().accessibilityStatus()}) {
        QAccessibleInterface* row = QAccessible::queryAccessibleInterface(status);
        EXPECT_EQ(row->role(), QAccessible::StatusBar);
        EXPECT_EQ(row->text(QAccessible::Name), status->text());
    }
    EXPECT_EQ(QAccessible::queryAccessibleInterface(view().keyStatus())->text(QAccessible::Name),
              QStringLiteral("Not connected"));
}

TEST_F(SettingsWindowTest, PermissionRowsFollowTheStatusAndTheDebugSwitch)
{
    qunsetenv("VELLOX_AX_DEBUG");
    setPermission(false);
    open();
    EXPECT_EQ(view().accessibilityStatus()->text(), QStringLiteral("Not granted"));
    EXPECT_FALSE(view().openAccessibilityButton()->isHidden() || !view().openAccessibilityButton()->parentWidget()->isVisible());
    EXPECT_FALSE(view().diagnosticsButton()->parentWidget()->isVisible());

    setPermission(true);
    EXPECT_EQ(view().accessibilityStatus()->text(), QStringLiteral("Granted"));
    EXPECT_FALSE(view().openAccessibilityButton()->parentWidget()->isVisible());

    qputenv("VELLOX_AX_DEBUG", "yes");
    view().hide();
    view().show();
    ASSERT_TRUE(view().diagnosticsButton()->parentWidget()->isVisible());
    trust().trusted = false;
    const int promptsBefore = trust().prompts.load();
    view().diagnosticsButton()->click();
    qunsetenv("VELLOX_AX_DEBUG");

    auto& pasteboard = fake::as<fake::FakePasteboard>(services().pasteboard);
    const QString report = pasteboard.text().value_or(QString());
    EXPECT_TRUE(report.startsWith(QStringLiteral("Vellox Accessibility diagnostics\npid: ")));
    EXPECT_TRUE(report.endsWith(QStringLiteral("\ntrustedBeforePrompt: false")));
    EXPECT_EQ(trust().prompts.load(), promptsBefore + 1);
    ASSERT_EQ(surfaces.notices.size(), 1);
    EXPECT_EQ(surfaces.notices[0].first.text, QStringLiteral("Accessibility diagnostics copied to clipboard."));
    EXPECT_EQ(surfaces.notices[0].second, 3.0);
}

TEST_F(SettingsWindowTest, TheWindowReportsItselfWhenShownAndHidden)
{
    open();
    EXPECT_EQ(UIWindowCoordinator::shared().activeSurface(), UIWindowCoordinator::Surface::settings);
    EXPECT_TRUE(UIWindowCoordinator::isLikelySettingsWindow(window.get()));
    EXPECT_GE(window->width(), 520);
    window->hide();
    EXPECT_EQ(UIWindowCoordinator::shared().activeSurface(), UIWindowCoordinator::Surface::none);
}

} // namespace
