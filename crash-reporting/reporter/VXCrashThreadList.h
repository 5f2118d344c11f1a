#pragma once

#include "crash-reporting/reporter/VXCrashReportLimits.h"
#include "crash-reporting/reporter/VXCrashReporterErrors.h"

#include <cstddef>
#include <sys/types.h>
#include <ucontext.h>

// Stopping the other threads of the process while a report is written.
//
// A reserved real-time signal goes to every thread listed in /proc/self/task,
// except one that blocks it or waits for signals with sigwait: that thread
// would never answer, and the program could take the signal as its own.
// The handler saves the thread's registers and waits until the threads are
// resumed. The wait ends kVXCrashThreadStopTimeoutMs after the last thread
// answered, and at kVXCrashThreadStopMaxWaitMs in all: on a busy machine the
// threads answer late but keep answering. Requests unanswered by then are
// withdrawn, and their threads, like those never asked, stay listed without
// registers. Everything at crash time is async-signal-safe: a fixed table,
// raw system calls, no allocation.

constexpr size_t kVXCrashMaxThreads = kVXCrashReportMaxThreads;
constexpr long kVXCrashThreadStopTimeoutMs = 250;
constexpr long kVXCrashThreadStopMaxWaitMs = 2000;

// The real-time signal that stops threads, counted down from SIGRTMAX so it
// stays clear of the low real-time signals that libraries take.
int vxcrash_thread_stop_signal();

// Installs the stop signal's handler. Ordinary context; idempotent.
bool vxcrash_nasync_thread_stop_install(VXCrashReporterError* error);

struct vxcrash_thread_info {
    pid_t tid;
    // Registers saved by the stop handler, or null when the thread is the
    // caller, was not asked or did not answer.
    const ucontext_t* context;
};

// Lists the process's threads and stops every one but the caller. False when
// the list cannot be read (no thread is listed then) or another stop is in
// progress. Every successful call is paired with vxcrash_async_threads_resume.
bool vxcrash_async_threads_suspend();

// The threads listed by the last suspend, in the kernel's order.
size_t vxcrash_async_threads_count();
vxcrash_thread_info vxcrash_async_threads_get(size_t index);

// Lets the stopped threads go on.
void vxcrash_async_threads_resume();

// The caller's kernel thread id.
pid_t vxcrash_async_gettid();
