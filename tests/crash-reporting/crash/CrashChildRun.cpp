#include "CrashChildRun.h"

#include <QFile>

#include <cstdlib>
#include <sys/wait.h>
#include <unistd.h>

bool CrashChildRun::killedBy(int signo) const
{
    return WIFSIGNALED(status) && WTERMSIG(status) == signo;
}

bool CrashChildRun::exitedWith(int code) const
{
    return WIFEXITED(status) && WEXITSTATUS(status) == code;
}

unsigned long long CrashChildRun::announcedAddress() const
{
    const auto at = output.find("address=");
    if (at == std::string::npos)
        return 0;
    return std::strtoull(output.c_str() + at + 8, nullptr, 16);
}

CrashChildRun CrashChildRun::run(const char* mode, const QString& baseFolder)
{
    CrashChildRun result;
    int pipeFds[2];
    if (pipe(pipeFds) != 0)
        return result;
    const QByteArray base = QFile::encodeName(baseFolder);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(pipeFds[1], STDOUT_FILENO);
        close(pipeFds[0]);
        close(pipeFds[1]);
        setenv("LD_PRELOAD", VELLOX_CRASH_HANDLER_SPY, 1);
        execl(VELLOX_CRASH_CHILD, VELLOX_CRASH_CHILD, mode, base.constData(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(pipeFds[1]);
    char buffer[512];
    ssize_t got;
    while ((got = read(pipeFds[0], buffer, sizeof buffer)) > 0)
        result.output.append(buffer, size_t(got));
    close(pipeFds[0]);
    waitpid(pid, &result.status, 0);
    return result;
}
