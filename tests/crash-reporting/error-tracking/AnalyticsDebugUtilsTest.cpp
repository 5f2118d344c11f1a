#include "crash-reporting/error-tracking/AnalyticsDebugUtils.h"

#include <gtest/gtest.h>

#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

TEST(AnalyticsDebugUtils, ToldByWhetherAnyProcessTracesThisOne)
{
    // A test runner may itself run under a debugger; a fresh child is traced
    // exactly when it asks to be.
    for (const bool traced : {false, true}) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            if (traced && ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0)
                _exit(3);
            _exit(analytics::AnalyticsDebugUtils::isDebuggerAttached() ? 1 : 0);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        if (traced && WEXITSTATUS(status) == 3)
            GTEST_SKIP() << "tracing is not allowed here";
        EXPECT_EQ(WEXITSTATUS(status), traced ? 1 : 0) << (traced ? "traced" : "untraced");
    }
}
