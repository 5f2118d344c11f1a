// These tests put the X server in states the shared one of the x11 label must
// not be put in: its window manager gone, or none at all. Each run of this
// program starts an Xvfb of its own on a free display before Qt connects,
// and ends it on the way out; CTest runs each test in a run of its own.
#include <QApplication>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Xvfb starts in well under a second, unless the machine is loaded.
constexpr int kServerStartMs = 30000;

class OwnXServer {
public:
    OwnXServer()
    {
        int pipeFds[2];
        if (::pipe(pipeFds) != 0)
            return;
        const pid_t parent = ::getpid();
        pid_ = ::fork();
        if (pid_ == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
            if (::getppid() != parent)
                ::_exit(1);
            ::close(pipeFds[0]);
            // -displayfd: the server takes the first free display and writes
            // its number there.
            const std::string fd = std::to_string(pipeFds[1]);
            ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x1024x24", "-nolisten", "tcp",
                     static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(pipeFds[1]);
        std::string number;
        pollfd readable{pipeFds[0], POLLIN, 0};
        while (pid_ > 0 && ::poll(&readable, 1, kServerStartMs) > 0) {
            char c;
            if (::read(pipeFds[0], &c, 1) != 1 || c == '\n')
                break;
            number += c;
        }
        ::close(pipeFds[0]);
        if (!number.empty())
            display_ = ":" + number;
    }
    ~OwnXServer()
    {
        if (pid_ <= 0)
            return;
        ::kill(pid_, SIGTERM);
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
    }

    const std::string& display() const { return display_; }

private:
    pid_t pid_ = -1;
    std::string display_;
};

} // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    // CTest lists the tests without a display.
    if (GTEST_FLAG_GET(list_tests))
        return RUN_ALL_TESTS();
    OwnXServer server;
    if (server.display().empty()) {
        std::fprintf(stderr, "could not start an Xvfb of our own\n");
        return 1;
    }
    qputenv("DISPLAY", server.display().c_str());
    qputenv("QT_QPA_PLATFORM", "xcb");
    int result = 0;
    {
        QApplication app(argc, argv);
        result = RUN_ALL_TESTS();
    }
    return result;
}
