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

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>

#include <QRectF>

#include <functional>
#include <ostream>

inline void PrintTo(const QRectF& r, std::ostream* os)
{
    *os << "(" << r.x() << ", " << r.y() << ", " << r.width() << " x " << r.height() << ")";
}

namespace rewrite_test {

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

// Spins the event loop until `done` holds or the time is up.
inline bool spinUntil(const std::function<bool()>& done, int timeoutMs = 5000)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

inline void spinFor(int milliseconds)
{
    QDeadlineTimer deadline(milliseconds);
    while (!deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

} // namespace rewrite_test
