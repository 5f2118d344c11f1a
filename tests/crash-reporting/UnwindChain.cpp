#include "UnwindChain.h"

// Built with -O2 -fomit-frame-pointer (see CMakeLists.txt). Work after each
// call keeps the calls from becoming tail calls, and the varied locals give
// the frames different sizes, so only call-frame information can walk them.

namespace {

__attribute__((noinline)) int opaque(volatile int* values, int n)
{
    int sum = 0;
    for (int i = 0; i < n; ++i)
        sum += values[i];
    return sum;
}

} // namespace

extern "C" __attribute__((noinline)) int vx_chain_level6(UnwindChainProbe* probe)
{
    const int result = int(vxcrash_async_thread_state_current(probe->callback, probe->context));
    asm volatile("" ::: "memory");
    return result + 6;
}

extern "C" __attribute__((noinline)) int vx_chain_level5(UnwindChainProbe* probe)
{
    volatile int values[7] = {1, 2, 3, 4, 5, 6, 7};
    return vx_chain_level6(probe) + opaque(values, 7);
}

extern "C" __attribute__((noinline)) int vx_chain_level4(UnwindChainProbe* probe)
{
    return vx_chain_level5(probe) * 3;
}

extern "C" __attribute__((noinline)) int vx_chain_level3(UnwindChainProbe* probe)
{
    volatile int values[33] = {};
    values[3] = vx_chain_level4(probe);
    return opaque(values, 33);
}

extern "C" __attribute__((noinline)) int vx_chain_level2(UnwindChainProbe* probe)
{
    return vx_chain_level3(probe) - 2;
}

extern "C" __attribute__((noinline)) int vx_chain_level1(UnwindChainProbe* probe)
{
    volatile int values[2] = {0, 1};
    const int r = vx_chain_level2(probe);
    return r + opaque(values, 2);
}
