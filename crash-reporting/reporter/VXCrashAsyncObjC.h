#pragma once

#include "crash-reporting/reporter/VXCrashAsyncMachO.h"

// Method names from an image's Objective-C class metadata, which names methods
// that the symbol table often leaves out. Reads only through memory objects and
// task copies; the one table it keeps comes from the kernel, not the heap.

struct vxcrash_async_objc_section {
    vxcrash_async_mobject mobj;
    bool mapped;
};

struct vxcrash_async_objc_cache {
    bool modern_format_seen;
    vxcrash_async_macho* mapped_image;
    vxcrash_async_objc_section const_section;
    vxcrash_async_objc_section const_ax_section;
    vxcrash_async_objc_section methlist_section;
    vxcrash_async_objc_section selrefs_section;
    vxcrash_async_objc_section classlist_section;
    vxcrash_async_objc_section catlist_section;
    vxcrash_async_objc_section objc_data_section;
    vxcrash_async_objc_section data_section;
    // Class data pointer -> address of its read-only data; 0 slots when the
    // table could not be allocated.
    size_t class_table_size;
    uint64_t* class_table_keys;
    uint64_t* class_table_values;
};

typedef void (*vxcrash_async_objc_found_method_cb)(bool is_class_method, vxcrash_async_macho_string* class_name,
                                                   vxcrash_async_macho_string* method_name, uint64_t imp, void* ctx);

vxcrash_error_t vxcrash_async_objc_cache_init(vxcrash_async_objc_cache* cache);
void vxcrash_async_objc_cache_free(vxcrash_async_objc_cache* cache);

// Calls `callback` for every method of every class and category of the image.
vxcrash_error_t vxcrash_async_objc_parse(vxcrash_async_macho* image, vxcrash_async_objc_cache* cache,
                                         vxcrash_async_objc_found_method_cb callback, void* ctx);
// Calls `callback` once, for the method whose implementation starts nearest at
// or below `pc`.
vxcrash_error_t vxcrash_async_objc_find_method(vxcrash_async_macho* image, vxcrash_async_objc_cache* cache,
                                               uint64_t pc, vxcrash_async_objc_found_method_cb callback, void* ctx);
