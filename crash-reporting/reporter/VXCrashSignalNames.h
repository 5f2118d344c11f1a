#pragma once

#include <cstdint>

// Names of signals and of their si_code values as the crash report records
// them ("SIGSEGV", "SEGV_MAPERR"). Both lookups are async-signal-safe: they
// only read constant tables.

// The name of a signal number, or null when the number has none.
const char* vxcrash_async_signal_signame(int signo);

// The name of a signal's code, or null when the pair has none. Code 0 of the
// fault signals reads as their "no operation" code; code 0 of SIGTRAP and
// SIGABRT reads "#0".
const char* vxcrash_async_signal_sigcode(int signo, int code);
