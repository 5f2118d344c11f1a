// A library the crashing child loads after it enabled the reporter. Built
// optimised without frame pointers, so only its call-frame information walks
// through it.
#include "CrashChildProtocol.h"

#include <cstdio>

extern "C" {

__attribute__((noinline, visibility("default"))) void vellox_plugin_inner()
{
    auto* volatile base = static_cast<char*>(nullptr);
    std::printf("address=%p\n", static_cast<void*>(base + crashchild::kNullWriteOffset));
    std::fflush(stdout);
    *reinterpret_cast<volatile int*>(base + crashchild::kNullWriteOffset) = 1;
    asm volatile("" ::: "memory");
}

__attribute__((noinline, visibility("default"))) void vellox_plugin_middle()
{
    vellox_plugin_inner();
    asm volatile("" ::: "memory");
}

__attribute__((noinline, visibility("default"))) void vellox_plugin_outer()
{
    vellox_plugin_middle();
    asm volatile("" ::: "memory");
}

} // extern "C"
