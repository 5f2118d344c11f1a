#pragma once

#include "crash-reporting/reporter/VXCrashAsyncThreadState.h"

// Six functions built with -O2 and without frame pointers, each calling the
// next; the deepest captures the running thread and hands the state to
// `callback` while all six frames are live.
struct UnwindChainProbe {
    vxcrash_async_thread_state_current_callback callback;
    void* context;
};

extern "C" int vx_chain_level1(UnwindChainProbe* probe);
extern "C" int vx_chain_level2(UnwindChainProbe* probe);
extern "C" int vx_chain_level3(UnwindChainProbe* probe);
extern "C" int vx_chain_level4(UnwindChainProbe* probe);
extern "C" int vx_chain_level5(UnwindChainProbe* probe);
extern "C" int vx_chain_level6(UnwindChainProbe* probe);
