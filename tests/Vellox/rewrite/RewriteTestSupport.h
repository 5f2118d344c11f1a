#pragma once

#include "platform/Platform.h"
#include "platform/fake/FakeAccessibilityTrust.h"
#include "platform/fake/FakeClock.h"
#include "platform/fake/FakeDefaults.h"
#include "platform/fake/FakeKeySynthesizer.h"
#include "platform/fake/FakeOpener.h"
#include "platform/fake/FakePasteboard.h"
#include "platform/fake/FakePlatform.h"
#include "platform/fake/FakeScreens.h"
#include "platform/fake/FakeSelectionLocator.h"
#include "platform/fake/FakeSystemLog.h"
#include "platform/fake/FakeWorkspace.h"
#include "support/SharedSessionEnvironment.h"
#include "support/SpinUntil.h"

#include "gemini-client/NetworkSession.h"

#include <QCoreApplication>
#include <QTest>
#include <QDeadlineTimer>
#include <QEventLoop>

#include <QCoroTask>
#include <QRectF>

#include <exception>
#include <memory>
#include <optional>

#include <gtest/gtest.h>

#include <functional>
#include <ostream>

#include "Vellox/rewrite/ProviderAIError.h"

inline void PrintTo(const ProviderAIError& e, std::ostream* os)
{
    *os << e.errorDescription().toStdString();
}

inline void PrintTo(const QRectF& r, std::ostream* os)
{
    *os << "(" << r.x() << ", " << r.y() << ", " << r.width() << " x " << r.height() << ")";
}

namespace rewrite_test {

// One per test program, whichever files include this header.
inline ::testing::Environment* const sharedSessionEnvironment =
    ::testing::AddGlobalTestEnvironment(new test_support::SharedSessionEnvironment);

// The installed fakes, by their fake types.
struct Fakes {
    platform::Platform& p = platform::Platform::current();

    template <class Fake, class Service>
    static Fake& get(const std::shared_ptr<Service>& service)
    {
        return platform::fake::as<Fake>(service);
    }

    platform::fake::FakeAccessibilityTrust& trust() { return get<platform::fake::FakeAccessibilityTrust>(p.accessibilityTrust); }
    platform::fake::FakeClock& clock() { return get<platform::fake::FakeClock>(p.clock); }
    platform::fake::FakeDefaults& defaults() { return get<platform::fake::FakeDefaults>(p.defaults); }
    platform::fake::FakeKeySynthesizer& keys() { return get<platform::fake::FakeKeySynthesizer>(p.keySynthesizer); }
    platform::fake::FakeOpener& opener() { return get<platform::fake::FakeOpener>(p.opener); }
    platform::fake::FakePasteboard& pasteboard() { return get<platform::fake::FakePasteboard>(p.pasteboard); }
    platform::fake::FakeScreens& screens() { return get<platform::fake::FakeScreens>(p.screens); }
    platform::fake::FakeSelectionLocator& locator() { return get<platform::fake::FakeSelectionLocator>(p.selectionLocator); }
    platform::fake::FakeSystemLog& log() { return get<platform::fake::FakeSystemLog>(p.systemLog); }
    platform::fake::FakeWorkspace& workspace() { return get<platform::fake::FakeWorkspace>(p.workspace); }
};

using test_support::spinUntil;

// What a coroutine ended with.
template <class T>
struct Outcome {
    std::optional<T> value;
    std::exception_ptr error;
    bool done = false;

    // The thrown error as E; none when it threw something else, or nothing.
    template <class E>
    std::optional<E> errorAs() const
    {
        if (!error)
            return std::nullopt;
        try {
            std::rethrow_exception(error);
        } catch (const E& e) {
            return e;
        } catch (...) {
            return std::nullopt;
        }
    }
};

struct Done {};

template <class T>
using OutcomeOf = Outcome<std::conditional_t<std::is_void_v<T>, Done, T>>;

template <class T>
QCoro::Task<void> driveInto(std::shared_ptr<OutcomeOf<T>> outcome, QCoro::Task<T> task)
{
    try {
        if constexpr (std::is_void_v<T>) {
            co_await std::move(task);
            outcome->value.emplace();
        } else {
            T value = co_await std::move(task);
            outcome->value.emplace(std::move(value));
        }
    } catch (...) {
        outcome->error = std::current_exception();
    }
    outcome->done = true;
}

// Runs the task to its end while the event loop turns.
template <class T>
OutcomeOf<T> run(QCoro::Task<T> task, int timeoutMs = 10000);

inline void spinFor(int milliseconds)
{
    QDeadlineTimer deadline(milliseconds);
    while (!deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

template <class T>
OutcomeOf<T> run(QCoro::Task<T> task, int timeoutMs)
{
    auto outcome = std::make_shared<OutcomeOf<T>>();
    driveInto<T>(outcome, std::move(task));
    spinUntil([&] { return outcome->done; }, timeoutMs);
    return *outcome;
}

// Sets an environment variable for the lifetime of the object.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const QByteArray& value)
        : name_(name)
        , previous_(qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt)
    {
        qputenv(name, value);
    }
    ~ScopedEnv()
    {
        if (previous_)
            qputenv(name_, *previous_);
        else
            qunsetenv(name_);
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* name_;
    std::optional<QByteArray> previous_;
};

} // namespace rewrite_test
