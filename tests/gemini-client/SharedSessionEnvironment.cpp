#include "gemini-client/NetworkSession.h"

#include <QTest>

#include <gtest/gtest.h>

namespace {

// Ends the shared network session while the application still runs, so
// Qt's network thread winds down in order instead of at process exit.
class SharedSessionEnvironment : public ::testing::Environment {
public:
    void TearDown() override
    {
        gemini::releaseSharedNetworkAccessManager();
        QTest::qWait(10);
    }
};

const auto* const environment = ::testing::AddGlobalTestEnvironment(new SharedSessionEnvironment);

} // namespace
