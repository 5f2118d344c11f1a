#include "crash-reporting/reporter/VXCrashSignalHandler.h"

#include "crash-reporting/reporter/VXCrashAlternateStacks.h"

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace {

// Registrations are few (a callback and a handful of signals), so the chain
// lives in fixed arrays: the handler reads a published prefix without a lock
// and never follows a pointer that a writer could free.
constexpr size_t kMaxCallbacks = 32;
constexpr size_t kMaxActions = 64;
constexpr size_t kMaxPreviousActionLinks = 64;

struct SavedAction {
    int signo;
    struct sigaction action;
};

struct HandlerContext {
    vxcrash_signal_user_callback callbacks[kMaxCallbacks];
    std::atomic<size_t> callbackCount{0};
    std::atomic<size_t> previousActionLinks{0};
    SavedAction actions[kMaxActions];
    std::atomic<size_t> actionCount{0};
};

HandlerContext g_context;
std::mutex g_registrationMutex;

bool previousActionCallback(int signo, siginfo_t* info, ucontext_t* uap, void*, VXCrashSignalHandlerCallback* next)
{
    if (VXCrashSignalHandlerForward(next, signo, info, uap))
        return true;

    const size_t count = g_context.actionCount.load(std::memory_order_acquire);
    for (size_t i = 0; i < count; ++i) {
        const SavedAction& saved = g_context.actions[i];
        if (saved.signo != signo)
            continue;
        if (saved.action.sa_flags & SA_SIGINFO) {
            saved.action.sa_sigaction(signo, info, uap);
            return true;
        }
        if (saved.action.sa_handler == SIG_IGN)
            return true;
        if (saved.action.sa_handler == SIG_DFL)
            return false;
        saved.action.sa_handler(signo);
        return true;
    }
    return false;
}

// Runs the link at `position` (its context): user callbacks newest first,
// then the previous-action links.
bool chainAt(int signo, siginfo_t* info, ucontext_t* uap, void* context)
{
    const size_t position = reinterpret_cast<uintptr_t>(context);
    const size_t users = g_context.callbackCount.load(std::memory_order_acquire);
    const size_t links = g_context.previousActionLinks.load(std::memory_order_acquire);
    if (position >= users + links)
        return false;

    VXCrashSignalHandlerCallback next{chainAt, reinterpret_cast<void*>(uintptr_t(position + 1))};
    VXCrashSignalHandlerCallback* nextLink = position + 1 < users + links ? &next : nullptr;
    if (position < users) {
        const vxcrash_signal_user_callback& link = g_context.callbacks[users - 1 - position];
        return link.callback(signo, info, uap, link.context, nextLink);
    }
    return previousActionCallback(signo, info, uap, nullptr, nextLink);
}

} // namespace

bool VXCrashSignalHandlerForward(VXCrashSignalHandlerCallback* next, int signo, siginfo_t* info, ucontext_t* uap)
{
    if (!next)
        return false;
    return next->callback(signo, info, uap, next->context);
}

void vxcrash_signal_handler(int signo, siginfo_t* info, void* uap)
{
    if (chainAt(signo, info, static_cast<ucontext_t*>(uap), nullptr))
        return;

    // Nobody handled it: end the process the way the signal would have. The
    // default action goes back first, so raising cannot re-enter us forever.
    struct sigaction fallback;
    std::memset(&fallback, 0, sizeof fallback);
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    sigaction(signo, &fallback, nullptr);
    raise(signo);
}

VXCrashSignalHandler::VXCrashSignalHandler() = default;

VXCrashSignalHandler& VXCrashSignalHandler::sharedHandler()
{
    // Lives until exit: a signal may arrive while static destructors run.
    static VXCrashSignalHandler* handler = new VXCrashSignalHandler();
    return *handler;
}

bool VXCrashSignalHandler::installAlternateStack(VXCrashReporterError* error)
{
    return vxcrash_nasync_alternate_stacks_install(error);
}

bool VXCrashSignalHandler::registerHandlerWithSignal(int signo, VXCrashReporterError* error)
{
    std::lock_guard lock(g_registrationMutex);
    if (!installAlternateStack(error))
        return false;

    const size_t links = g_context.previousActionLinks.load(std::memory_order_relaxed);
    if (links < kMaxPreviousActionLinks)
        g_context.previousActionLinks.store(links + 1, std::memory_order_release);

    const size_t count = g_context.actionCount.load(std::memory_order_relaxed);
    for (size_t i = 0; i < count; ++i) {
        if (g_context.actions[i].signo == signo)
            return true;
    }
    if (count == kMaxActions) {
        vxcrash_set_error(error, vxcrash_os_error(QStringLiteral("Failed to register signal handler"), ENOSPC));
        return false;
    }

    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_sigaction = vxcrash_signal_handler;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    SavedAction& saved = g_context.actions[count];
    saved.signo = signo;
    if (sigaction(signo, &action, &saved.action) != 0) {
        vxcrash_set_error(error, vxcrash_os_error(QStringLiteral("Failed to register signal handler"), errno));
        return false;
    }
    // After resetHandlers the installed action is our own; chaining to it
    // would loop, so it counts as the default.
    if ((saved.action.sa_flags & SA_SIGINFO) && saved.action.sa_sigaction == vxcrash_signal_handler) {
        std::memset(&saved.action, 0, sizeof saved.action);
        saved.action.sa_handler = SIG_DFL;
    }
    g_context.actionCount.store(count + 1, std::memory_order_release);
    return true;
}

bool VXCrashSignalHandler::registerHandlerForSignal(int signo, vxcrash_signal_callback_fn callback, void* context,
                                                    VXCrashReporterError* error)
{
    if (!registerHandlerWithSignal(signo, error))
        return false;

    std::lock_guard lock(g_registrationMutex);
    const size_t count = g_context.callbackCount.load(std::memory_order_relaxed);
    for (size_t i = 0; i < count; ++i) {
        if (g_context.callbacks[i].callback == callback && g_context.callbacks[i].context == context)
            return true;
    }
    if (count == kMaxCallbacks) {
        vxcrash_set_error(error, vxcrash_os_error(QStringLiteral("Failed to register signal handler"), ENOSPC));
        return false;
    }
    g_context.callbacks[count] = {callback, context};
    g_context.callbackCount.store(count + 1, std::memory_order_release);
    return true;
}

void VXCrashSignalHandler::resetHandlers()
{
    std::lock_guard lock(g_registrationMutex);
    g_context.callbackCount.store(0, std::memory_order_release);
    g_context.previousActionLinks.store(0, std::memory_order_release);
    g_context.actionCount.store(0, std::memory_order_release);
}
