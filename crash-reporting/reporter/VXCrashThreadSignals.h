#pragma once

#include <sys/types.h>

// The reporter's own signals, sent to the process's threads to ask something
// of them (take a stack, stop for a report), must never reach the program as
// a signal of its own. A thread that blocks such a signal leaves it pending,
// and sigwait, sigtimedwait or a signalfd read then hands it to the program,
// whose signal thread may act on it as on any other. So such a thread is not
// sent one, and a request still pending at the deadline is withdrawn.
//
// Both are async-signal-safe: the threads are stopped from the crash handler.

// True when the thread blocks `signo` or waits for signals with sigwait,
// sigwaitinfo or sigtimedwait, as far as /proc/self/task tells. False when
// that cannot be read (the thread has ended, or /proc is not there).
bool vxcrash_async_thread_could_take_as_its_own(pid_t tid, int signo);

// Drops every pending instance of `signo` in the process, on every thread,
// and leaves its action as it was.
void vxcrash_async_signal_withdraw_pending(int signo);
