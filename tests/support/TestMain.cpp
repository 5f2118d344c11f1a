#include "support/ProcessThreads.h"

#include <QApplication>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

// Leak detection at exit stops every thread of the process to read its
// memory, and a thread caught running there, or half way through its own end,
// can bring that down. So a test program stops every thread it started before
// it ends. Qt's threads are detached: one that has been waited for still takes
// a moment to leave the process, which a loaded machine stretches.
//
// GLib's own shared threads are the exception: it starts its worker ("gmain")
// and its D-Bus thread ("gdbus") on first use, in libsecret's calls for one,
// offers no way to end them, and they wait in poll for the rest of any
// program that uses GIO.
std::vector<std::string> threadsLeft()
{
    std::vector<std::string> threads = test_support::otherThreads();
    std::erase_if(threads, [](const std::string& thread) {
        return thread.starts_with("gmain (") || thread.starts_with("gdbus (");
    });
    return threads;
}

bool onlyThisThreadLeft()
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!threadsLeft().empty()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// Runs at exit after the objects made while the tests ran are gone (some join
// their threads then) and before leak detection, which was set up first.
void checkThreadsAtExit()
{
    if (onlyThisThreadLeft())
        return;
    std::fflush(nullptr);
    std::fprintf(stderr, "Threads still running when the test program ends (a test started them and did not stop them):\n");
    for (const std::string& thread : threadsLeft())
        std::fprintf(stderr, "  %s\n", thread.c_str());
    std::fflush(stderr);
    std::_Exit(1);
}

} // namespace

// Every test executable runs inside a QApplication so that event loops, timers,
// widgets and networking work. Without a display it uses the offscreen
// platform; the x11 label sets QT_QPA_PLATFORM=xcb itself.
int main(int argc, char** argv)
{
    std::atexit(checkThreadsAtExit);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
