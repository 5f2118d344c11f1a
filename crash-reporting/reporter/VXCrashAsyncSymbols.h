#pragma once

#include "crash-reporting/reporter/VXCrashAsyncImageList.h"
#include "crash-reporting/reporter/VXCrashAsyncObjC.h"

// Naming the function that holds an address, at crash time.

enum : uint32_t {
    VXCRASH_ASYNC_SYMBOL_STRATEGY_NONE = 0,
    VXCRASH_ASYNC_SYMBOL_STRATEGY_SYMBOL_TABLE = 1 << 0,
    VXCRASH_ASYNC_SYMBOL_STRATEGY_OBJC = 1 << 1,
    VXCRASH_ASYNC_SYMBOL_STRATEGY_ALL = VXCRASH_ASYNC_SYMBOL_STRATEGY_SYMBOL_TABLE | VXCRASH_ASYNC_SYMBOL_STRATEGY_OBJC,
};

typedef vxcrash_async_objc_cache vxcrash_async_symbol_cache;
typedef void (*vxcrash_async_found_symbol_cb)(uint64_t address, const char* name, void* ctx);

vxcrash_error_t vxcrash_async_symbol_cache_init(vxcrash_async_symbol_cache* cache);
void vxcrash_async_symbol_cache_free(vxcrash_async_symbol_cache* cache);

// On success calls `callback` exactly once with the start address and name of
// the best symbol holding `pc`; the same inputs always give the same answer.
vxcrash_error_t vxcrash_async_find_symbol(vxcrash_async_image* image, uint32_t strategy,
                                          vxcrash_async_symbol_cache* cache, uint64_t pc,
                                          vxcrash_async_found_symbol_cb callback, void* ctx);
