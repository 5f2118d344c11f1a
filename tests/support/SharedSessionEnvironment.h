#pragma once

#include "gemini-client/NetworkSession.h"
#include "support/ProcessThreads.h"
#include "support/SpinUntil.h"

#include <QCoreApplication>
#include <QEvent>
#include <QThreadPool>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace test_support {

// Ends the shared network sessions while the application still runs, so Qt's
// network threads wind down in order instead of at process exit: the main
// thread's, and those of pooled threads, which end with their threads. The
// event loop serves the last deferred deletions until those threads are gone.
class SharedSessionEnvironment : public ::testing::Environment {
public:
    void TearDown() override
    {
        gemini::releaseSharedNetworkAccessManager();
        QThreadPool::globalInstance()->waitForDone();
        EXPECT_TRUE(spinUntil([] { return !networkThreadsLeft(); }, 20000))
            << "Qt's network threads outlived the shared sessions";
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

private:
    static bool networkThreadsLeft()
    {
        const auto threads = otherThreads();
        // Qt names the thread after its object, "QNetworkAccessManager
        // thread", cut to the kernel's 15 bytes.
        return std::any_of(threads.begin(), threads.end(),
                           [](const std::string& thread) { return thread.starts_with("QNetworkAccessM"); });
    }
};

} // namespace test_support
