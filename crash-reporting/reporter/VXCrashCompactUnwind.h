#pragma once

#include "crash-reporting/reporter/VXCrashAsyncMObject.h"
#include "crash-reporting/reporter/VXCrashAsyncThreadState.h"

// The compact unwind information of Mach-O images ("__unwind_info"): finding a
// function's 32-bit encoding and decoding it for x86, x86-64 and 64-bit Arm.

enum vxcrash_async_cfe_type_t : uint8_t {
    CFE_TYPE_FRAME_POINTER = 1,
    CFE_TYPE_FRAMELESS_IMMEDIATE = 2,
    CFE_TYPE_FRAMELESS_INDIRECT = 3,
    CFE_TYPE_DWARF = 4,
    CFE_TYPE_NONE = 5,
};

inline constexpr uint32_t VXCRASH_ASYNC_CFE_NO_REGISTER = 0x7FFFFFFF;
inline constexpr size_t VXCRASH_ASYNC_CFE_MAX_REGISTERS = 10;

struct vxcrash_async_cfe_reader {
    const vxcrash_async_mobject* mobj;
    int32_t cpu_type;
    struct {
        uint32_t version;
        uint32_t commonEncodingsArraySectionOffset;
        uint32_t commonEncodingsArrayCount;
        uint32_t personalityArraySectionOffset;
        uint32_t personalityArrayCount;
        uint32_t indexSectionOffset;
        uint32_t indexCount;
    } header;
    const vxcrash_async_byteorder* byteorder;
};

struct vxcrash_async_cfe_entry {
    vxcrash_async_cfe_type_t type;
    int32_t cpu_type;
    int64_t stack_offset;
    uint32_t stack_adjust;
    uint32_t return_address_register;
    uint32_t register_count;
    uint32_t register_list[VXCRASH_ASYNC_CFE_MAX_REGISTERS];
};

vxcrash_error_t vxcrash_async_cfe_reader_init(vxcrash_async_cfe_reader* reader, const vxcrash_async_mobject* mobj,
                                              int32_t cpu_type);
// `pc` and `function_base` are offsets from the image's header address.
vxcrash_error_t vxcrash_async_cfe_reader_find_pc(vxcrash_async_cfe_reader* reader, uint64_t pc,
                                                 uint64_t* function_base, uint32_t* encoding);
void vxcrash_async_cfe_reader_free(vxcrash_async_cfe_reader* reader);

vxcrash_error_t vxcrash_async_cfe_entry_init(vxcrash_async_cfe_entry* entry, int32_t cpu_type, uint32_t encoding);
vxcrash_async_cfe_type_t vxcrash_async_cfe_entry_type(const vxcrash_async_cfe_entry* entry);
int64_t vxcrash_async_cfe_entry_stack_offset(const vxcrash_async_cfe_entry* entry);
uint32_t vxcrash_async_cfe_entry_stack_adjustment(const vxcrash_async_cfe_entry* entry);
uint32_t vxcrash_async_cfe_entry_return_address_register(const vxcrash_async_cfe_entry* entry);
uint32_t vxcrash_async_cfe_entry_register_count(const vxcrash_async_cfe_entry* entry);
void vxcrash_async_cfe_entry_register_list(const vxcrash_async_cfe_entry* entry, uint32_t* register_list);
void vxcrash_async_cfe_entry_free(vxcrash_async_cfe_entry* entry);

vxcrash_error_t vxcrash_async_cfe_entry_apply(vxcrash_task_t task, uint64_t function_address,
                                              const vxcrash_async_thread_state* current,
                                              const vxcrash_async_cfe_entry* entry,
                                              vxcrash_async_thread_state* next);

uint32_t vxcrash_async_cfe_register_encode(const uint32_t registers[], uint32_t count);
vxcrash_error_t vxcrash_async_cfe_register_decode(uint32_t permutation, uint32_t count, uint32_t registers[]);
