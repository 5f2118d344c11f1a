#pragma once

#include "crash-reporting/reporter/VXCrashAlternateStacks.h"
#include "crash-reporting/reporter/VXCrashReporterErrors.h"

#include <csignal>
#include <cstddef>
#include <ucontext.h>

// The process-wide handler of fatal signals. Every registered signal goes to
// vxcrash_signal_handler, which runs one chain: the registered callbacks,
// newest first, and after them the handlers that were installed before ours.
// A callback passes a signal on by calling VXCrashSignalHandlerForward with
// the next link it was given.

// The handle of the next link of the chain.
struct VXCrashSignalHandlerCallback {
    bool (*callback)(int signo, siginfo_t* info, ucontext_t* uap, void* context);
    void* context;
};

// A registered callback. Returns true when it handled the signal, which ends
// the chain; `next` is null for the last link.
using vxcrash_signal_callback_fn = bool (*)(int signo, siginfo_t* info, ucontext_t* uap, void* context,
                                            VXCrashSignalHandlerCallback* next);

struct vxcrash_signal_user_callback {
    vxcrash_signal_callback_fn callback;
    void* context;
};

// False for a null link, else the result of the rest of the chain.
bool VXCrashSignalHandlerForward(VXCrashSignalHandlerCallback* next, int signo, siginfo_t* info, ucontext_t* uap);

// The handler installed for every registered signal. Async-signal-safe.
void vxcrash_signal_handler(int signo, siginfo_t* info, void* uap);

class VXCrashSignalHandler {
public:
    // Size of every thread's alternate signal stack, so a stack overflow can
    // still be reported.
    static constexpr size_t kAlternateStackSize = kVXCrashAlternateStackSize;

    static VXCrashSignalHandler& sharedHandler();

    // Installs the handler for `signo` and puts the callback at the head of
    // the chain. Registering the same callback and context again keeps the
    // one link it already has, so a signal never runs it twice.
    bool registerHandlerForSignal(int signo, vxcrash_signal_callback_fn callback, void* context,
                                  VXCrashReporterError* error);

    // Installs the handler for one signal; a signal already handled keeps its
    // installed action.
    bool registerHandlerWithSignal(int signo, VXCrashReporterError* error);

    // Forgets every callback and saved previous action; the installed signal
    // actions stay.
    static void resetHandlers();

    VXCrashSignalHandler(const VXCrashSignalHandler&) = delete;
    VXCrashSignalHandler& operator=(const VXCrashSignalHandler&) = delete;

private:
    VXCrashSignalHandler();
    bool installAlternateStack(VXCrashReporterError* error);
};
