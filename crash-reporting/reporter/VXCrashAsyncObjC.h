#pragma once

#include "crash-reporting/reporter/VXCrashAsyncMachO.h"

// Method names from an image's Objective-C class metadata, which names methods
// that the symbol table often leaves out. Reads only through memory objects and
// task copies; the one table it keeps comes from the kernel, not the heap.

struct vxcrash_async_objc_section_t {
    vxcrash_async_mobject_t mobj;
    bool mapped;
};

struct vxcrash_async_objc_cache_t {
    bool modern_format_seen;
    vxcrash_async_macho_t* mapped_image;
    vxcrash_async_objc_section_t const_section;
    vxcrash_async_objc_section_t const_ax_section;
    vxcrash_async_objc_section_t methlist_section;
    vxcrash_async_objc_section_t selrefs_section;
    vxcrash_async_objc_section_t classlist_section;
    vxcrash_async_objc_section_t catlist_section;
    vxcrash_async_objc_section_t objc_data_section;
    vxcrash_async_objc_section_t data_section;
    // Class data pointer -> address of its read-only data; 0 slots when the
    // table could not be allocated.
    size_t class_table_size;
    uint64_t* class_table_keys;
    uint64_t* class_table_values;
};

typedef void (*vxcrash_async_objc_found_method_cb)(bool is_class_method, vxcrash_async_macho_string_t* class_name,
                                                   vxcrash_async_macho_string_t* method_name, uint64_t imp, void* ctx);

vxcrash_error_t vxcrash_async_objc_cache_init(vxcrash_async_objc_cache_t* cache);
void vxcrash_async_objc_cache_free(vxcrash_async_objc_cache_t* cache);

// Calls `callback` for every method of every class and category of the image.
vxcrash_error_t vxcrash_async_objc_parse(vxcrash_async_macho_t* image, vxcrash_async_objc_cache_t* cache,
                                         vxcrash_async_objc_found_method_cb callback, void* ctx);
// Calls `callback` once, for the method whose implementation starts nearest at
// or below `pc`.
vxcrash_error_t vxcrash_async_objc_find_method(vxcrash_async_macho_t* image, vxcrash_async_objc_cache_t* cache,
                                               uint64_t pc, vxcrash_async_objc_found_method_cb callback, void* ctx);
