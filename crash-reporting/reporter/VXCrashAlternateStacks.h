#pragma once

#include "crash-reporting/reporter/VXCrashReporterErrors.h"

#include <cstddef>

// Alternate signal stacks for every thread of the process, so the crash
// handler can run on a thread whose own stack overflowed.
//
// The kernel gives a new thread no alternate stack, and a stack cannot be
// installed once the overflow happened. So each thread gets one ahead:
// - threads running at install time are sent a reserved real-time signal
//   carrying a stack made for them; its handler installs that stack, for
//   good (past the handler's return). A thread that blocks the signal, or
//   waits for signals with sigwait, is sent none and goes without: the
//   program could take the signal as its own;
// - threads started later get theirs as their first step: this library
//   provides pthread_create, which wraps the start routine once install has
//   run, and frees the stack when the thread ends.

constexpr size_t kVXCrashAlternateStackSize = 65536;

// The real-time signal that carries a stack to a running thread, below the
// one that stops threads.
int vxcrash_alternate_stack_signal();

// Gives the calling thread an alternate stack; the first call also reaches
// every running thread and every thread started later. Ordinary context.
bool vxcrash_nasync_alternate_stacks_install(VXCrashReporterError* error);

// True when the calling thread has an alternate stack of at least
// kVXCrashAlternateStackSize bytes.
bool vxcrash_has_alternate_stack();
