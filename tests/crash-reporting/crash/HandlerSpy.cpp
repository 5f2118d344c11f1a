// Preloaded into the crashing child: ends the run when the crash handler
// calls what a signal handler must not, so a report that happens to come out
// whole despite it does not pass. The crash handler is the code running on a
// thread's alternate signal stack; the spy exits with kSpyExitCode and names
// the call on standard output.
#include "CrashChildProtocol.h"

#include <csignal>
#include <cstddef>
#include <cstring>
#include <dlfcn.h>
#include <link.h>
#include <pthread.h>
#include <unistd.h>

extern "C" {
void* __libc_malloc(size_t size);
void __libc_free(void* pointer);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* pointer, size_t size);
}

namespace {

using MutexLock = int (*)(pthread_mutex_t*);
using IteratePhdr = int (*)(int (*)(dl_phdr_info*, size_t, void*), void*);
MutexLock g_mutexLock = nullptr;
IteratePhdr g_iteratePhdr = nullptr;

__attribute__((constructor)) void resolveNext()
{
    g_mutexLock = reinterpret_cast<MutexLock>(dlsym(RTLD_NEXT, "pthread_mutex_lock"));
    g_iteratePhdr = reinterpret_cast<IteratePhdr>(dlsym(RTLD_NEXT, "dl_iterate_phdr"));
}

void check(const char* call)
{
    stack_t current;
    if (sigaltstack(nullptr, &current) != 0 || !(current.ss_flags & SS_ONSTACK))
        return;
    const char prefix[] = "handler spy: ";
    const char suffix[] = " called in the crash handler\n";
    (void)!write(STDOUT_FILENO, prefix, sizeof prefix - 1);
    (void)!write(STDOUT_FILENO, call, std::strlen(call));
    (void)!write(STDOUT_FILENO, suffix, sizeof suffix - 1);
    _exit(crashchild::kSpyExitCode);
}

} // namespace

extern "C" {

void* malloc(size_t size)
{
    check("malloc");
    return __libc_malloc(size);
}

void free(void* pointer)
{
    check("free");
    __libc_free(pointer);
}

void* calloc(size_t count, size_t size)
{
    check("calloc");
    return __libc_calloc(count, size);
}

void* realloc(void* pointer, size_t size)
{
    check("realloc");
    return __libc_realloc(pointer, size);
}

int pthread_mutex_lock(pthread_mutex_t* mutex)
{
    check("pthread_mutex_lock");
    return g_mutexLock ? g_mutexLock(mutex) : 0;
}

int dl_iterate_phdr(int (*callback)(dl_phdr_info*, size_t, void*), void* data)
{
    check("dl_iterate_phdr");
    return g_iteratePhdr ? g_iteratePhdr(callback, data) : 0;
}

} // extern "C"
