#pragma once

#include "Vellox/app/OnboardingTypes.h"
#include "Vellox/app/OnboardingWindowController.h"
#include "GlobalShortcuts/Testing.h"
#include "Vellox/panels/UIWindowCoordinator.h"
#include "Vellox/rewrite/AppReadinessState.h"
#include "Vellox/rewrite/RewriteChromeState.h"
#include "Vellox/rewrite/RewriteFeedbackState.h"
#include "Vellox/rewrite/RewriteSurfaces.h"
#include "Vellox/rewrite/RewriteUsageStore.h"
#include "Vellox/settings/KeychainStore.h"
#include "Vellox/settings/PreferencesStore.h"
#include "platform/Defaults.h"
#include "platform/Platform.h"
#include "platform/fake/FakeAccessibilityTrust.h"
#include "platform/fake/FakeCredentialStore.h"
#include "platform/fake/FakeOpener.h"
#include "platform/fake/FakePlatform.h"
#include "platform/fake/FakeSystemLog.h"

#include "support/SpinUntil.h"
#include "support/TempHome.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QCoroSignal>
#include <QSemaphore>
#include <QTest>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>

namespace app_test {

namespace fake = platform::fake;

// A credential store whose reads wait until the test opens the gate, so a
// test can act while a key read is still under way.
class GatedCredentialStore final : public platform::CredentialStore {
public:
    ReadResult read(const QString& service, const QString& account, bool allowInteraction) override
    {
        reads_.fetch_add(1);
        if (gated_.load()) {
            waiting_.fetch_add(1);
            gate_.acquire();
        }
        return inner_.read(service, account, allowInteraction);
    }
    Status store(const QString& service, const QString& account, const QByteArray& secret) override
    {
        return inner_.store(service, account, secret);
    }
    Status remove(const QString& service, const QString& account) override { return inner_.remove(service, account); }

    void failWrites(bool fail) { inner_.failWrites(fail); }
    void close() { gated_ = true; }
    // Lets every waiting read (and later ones) through.
    void open()
    {
        gated_ = false;
        gate_.release(1000);
    }
    int waitingReads() const { return waiting_.load(); }
    int reads() const { return reads_.load(); }

private:
    fake::FakeCredentialStore inner_;
    std::atomic<bool> gated_{false};
    std::atomic<int> waiting_{0};
    std::atomic<int> reads_{0};
    QSemaphore gate_;
};

// Records the notices the shell shows.
class RecordingSurfaces final : public RewriteSurfaces {
public:
    QCoro::Task<std::optional<TonePickerChoice>> askTone(QList<TonePreset>, bool) override { co_return std::nullopt; }
    QCoro::Task<std::optional<QString>> askInstruction() override { co_return std::nullopt; }
    void showSpinner() override {}
    void hideSpinner() override {}
    void presentNotice(const RewriteFeedbackMessage& message, double seconds) override
    {
        notices.append({message, seconds});
    }
    void closeSettingsWindowIfOpen() override {}
    void closeMenuPopoverIfOpen() override {}

    QList<QPair<RewriteFeedbackMessage, double>> notices;
};

// Every control a user can reach (buttons, switches, fields, pickers) has a
// name a screen reader can say.
inline void expectEveryControlNamed(QWidget& root)
{
    int controls = 0;
    for (QWidget* widget : root.findChildren<QWidget*>()) {
        const bool control = qobject_cast<QAbstractButton*>(widget) || qobject_cast<QComboBox*>(widget)
            || widget->inherits("SegmentedControl")
            || (qobject_cast<QLineEdit*>(widget) && !qobject_cast<QComboBox*>(widget->parentWidget()));
        if (!control)
            continue;
        ++controls;
        const QString name = widget->accessibleName().isEmpty()
            ? QAccessible::queryAccessibleInterface(widget)->text(QAccessible::Name)
            : widget->accessibleName();
        EXPECT_FALSE(name.trimmed().isEmpty())
            << widget->metaObject()->className() << " " << widget->objectName().toStdString();
    }
    EXPECT_GT(controls, 0);
}

// Fresh fakes, a temporary home and clean shared state for every test.
class ShellTest : public ::testing::Test {
protected:
    ShellTest()
        : guard_(makePlatform())
    {
        GlobalShortcuts::testing::resetState();
        PreferencesStore::resetSharedForTesting();
        RewriteUsageStore::resetSharedForTesting();
        RewriteFeedbackState::shared().setLastError(std::nullopt);
        RewriteChromeState::shared().setPhase(RewriteChromeState::Phase::idle);
        UIWindowCoordinator::shared().setActiveSurface(UIWindowCoordinator::Surface::none);
        OnboardingKeyCheck::install({});
        RewriteSurfaces::install(&surfaces);
        setPermission(true);
    }

    ~ShellTest() override
    {
        OnboardingWindowController::resetForTesting();
        OnboardingKeyCheck::install({});
        // Let queued work of this test finish against its own platform.
        credentials().open();
        test_support::finishQueuedWork();
        RewriteSurfaces::install(nullptr);
        GlobalShortcuts::testing::resetState();
    }

    static platform::Platform makePlatform()
    {
        platform::Platform services = fake::makeFakePlatform();
        services.credentials = std::make_shared<GatedCredentialStore>();
        return services;
    }

    platform::Platform& services() { return platform::Platform::current(); }
    GatedCredentialStore& credentials() { return dynamic_cast<GatedCredentialStore&>(*services().credentials); }
    fake::FakeAccessibilityTrust& trust() { return fake::as<fake::FakeAccessibilityTrust>(services().accessibilityTrust); }
    fake::FakeOpener& opener() { return fake::as<fake::FakeOpener>(services().opener); }
    fake::FakeSystemLog& systemLog() { return fake::as<fake::FakeSystemLog>(services().systemLog); }
    platform::Defaults& defaults() { return *services().defaults; }

    // Sets the trust answer and waits until a refresh started afterwards has
    // stored it; refreshes still in flight from earlier steps land first.
    void setPermission(bool trusted)
    {
        trust().trusted = trusted;
        const auto wanted = trusted ? AccessibilityPermissionStatus::granted : AccessibilityPermissionStatus::denied;
        test_support::finishQueuedWork();
        auto done = std::make_shared<bool>(false);
        [](std::shared_ptr<bool> flag) -> QCoro::Task<void> {
            co_await AppReadinessState::shared().refreshPermissionStatusAsync();
            *flag = true;
        }(done);
        QTRY_VERIFY_WITH_TIMEOUT(*done, 20000);
        ASSERT_EQ(AppReadinessState::shared().permissionStatus(), wanted);
    }

    void setUsageCount(qint64 count)
    {
        defaults().setValue(QString::fromLatin1(RewriteUsageStore::todayCountKey), count);
        defaults().setValue(QString::fromLatin1(RewriteUsageStore::dayKeyKey), RewriteUsageStore::currentDayKey());
        RewriteUsageStore::resetSharedForTesting();
    }

    void storeKey(ProviderId provider, const QString& key) { KeychainStore::setApiKey(key, provider); }
    QString storedKey(ProviderId provider) { return KeychainStore::getApiKey(provider); }

    RecordingSurfaces surfaces;

private:
    TempHome home_;
    platform::PlatformGuard guard_;
};

} // namespace app_test
