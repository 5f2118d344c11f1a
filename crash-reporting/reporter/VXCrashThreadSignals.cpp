#include "crash-reporting/reporter/VXCrashThreadSignals.h"

#include "crash-reporting/reporter/VXCrashAsync.h"

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

constexpr char kTaskFolder[] = "/proc/self/task/";
// The longest file name read from a thread's folder, NUL included.
constexpr size_t kTaskFileNameMax = 8;

// The start of one of the thread's /proc files, NUL-terminated; empty when
// it cannot be read. The C library's formatting and parsing may allocate or
// lock, so the path is put together by hand.
void readTaskFile(pid_t tid, const char* name, char* buffer, size_t size)
{
    buffer[0] = '\0';
    char path[sizeof kTaskFolder + 20 + 1 + kTaskFileNameMax];
    vxcrash_async_memcpy(path, kTaskFolder, sizeof kTaskFolder - 1);
    char* at = vxcrash_async_append_decimal(path + sizeof kTaskFolder - 1, uint64_t(tid));
    *at++ = '/';
    vxcrash_async_memcpy(at, name, vxcrash_async_strlen(name) + 1);
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return;
    size_t used = 0;
    while (used < size - 1) {
        const ssize_t got = read(fd, buffer + used, size - 1 - used);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        used += size_t(got);
    }
    close(fd);
    buffer[used] = '\0';
}

// While a thread sleeps in sigwait, sigwaitinfo or sigtimedwait, the kernel
// unblocks the signals it waits for and puts its mask back when it wakes: its
// status shows them unblocked. Its syscall file starts with the number of the
// call it sleeps in ("running" or "-1" when it is in none).
bool waitsForSignals(pid_t tid)
{
    char line[32];
    readTaskFile(tid, "syscall", line, sizeof line);
    if (line[0] < '0' || line[0] > '9')
        return false;
    long number = 0;
    for (const char* c = line; *c >= '0' && *c <= '9' && number < 100000; ++c)
        number = number * 10 + (*c - '0');
#ifdef SYS_rt_sigtimedwait_time64
    if (number == SYS_rt_sigtimedwait_time64)
        return true;
#endif
    return number == SYS_rt_sigtimedwait;
}

// The "SigBlk:" line of the thread's status: the blocked signals as a
// hexadecimal mask, signal n at bit n - 1.
bool blocks(pid_t tid, int signo)
{
    char status[4096];
    readTaskFile(tid, "status", status, sizeof status);
    constexpr char kField[] = "\nSigBlk:";
    const char* at = status;
    while (*at && vxcrash_async_strncmp(at, kField, sizeof kField - 1) != 0)
        ++at;
    if (!*at)
        return false;
    at += sizeof kField - 1;
    while (*at == ' ' || *at == '\t')
        ++at;
    uint64_t blocked = 0;
    for (;; ++at) {
        uint64_t digit;
        if (*at >= '0' && *at <= '9')
            digit = uint64_t(*at - '0');
        else if (*at >= 'a' && *at <= 'f')
            digit = uint64_t(*at - 'a' + 10);
        else
            break;
        blocked = blocked << 4 | digit;
    }
    return signo >= 1 && signo <= 64 && ((blocked >> (signo - 1)) & 1);
}

} // namespace

// A thread taking signals with sigwait shows the signal unblocked while it
// waits and blocked between its waits, so the wait is looked for before and
// after the mask is read: it escapes only by leaving its wait and entering it
// again between the reads.
bool vxcrash_async_thread_could_take_as_its_own(pid_t tid, int signo)
{
    return waitsForSignals(tid) || blocks(tid, signo) || waitsForSignals(tid);
}

// A signal queued to a thread cannot be recalled, but setting its action to
// "ignore" discards every pending instance, the process's and each thread's.
// One sent between the two calls is discarded as well; a handler the signal
// already started runs on.
void vxcrash_async_signal_withdraw_pending(int signo)
{
    struct sigaction ignore;
    vxcrash_async_memset(&ignore, 0, sizeof ignore);
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    struct sigaction previous;
    if (sigaction(signo, &ignore, &previous) == 0)
        sigaction(signo, &previous, nullptr);
}
