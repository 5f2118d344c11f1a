#pragma once

#include "crash-reporting/reporter/VXCrashAsyncMObject.h"

// A loaded ELF image read from a task's memory: its extent from the PT_LOAD
// segments, its GNU build-id, its .eh_frame found through PT_GNU_EH_FRAME, and
// its symbols (.dynsym from memory, .symtab from the file on disk when the file
// still matches the loaded image). Only 64-bit little-endian images are read.
struct vxcrash_async_elf {
    vxcrash_task_t task;
    uint64_t header_addr; // the ELF header in the task
    int64_t load_bias;    // added to the file's virtual addresses
    uint64_t image_size;  // from the header to the end of the last PT_LOAD
    char* name;
    uint16_t machine;
    uint8_t build_id[32];
    uint32_t build_id_length;

    uint64_t eh_frame_addr;
    uint64_t eh_frame_size; // an upper bound: the rest of its segment

    uint64_t dynsym_addr;
    uint64_t dynsym_count;
    uint64_t dynstr_addr;
    uint64_t dynstr_size;

    // .symtab and its strings, mapped read-only from the file.
    void* file_map;
    size_t file_map_length;
    const uint8_t* symtab;
    uint64_t symtab_count;
    const char* strtab;
    uint64_t strtab_size;
};

typedef void (*vxcrash_async_elf_found_symbol_cb)(uint64_t address, const char* name, void* ctx);

// Ordinary threads only: reads the image at `header` and, when `path` names its
// file, maps that file's symbol table.
vxcrash_error_t vxcrash_nasync_elf_init(vxcrash_async_elf* image, vxcrash_task_t task, const char* path,
                                        uint64_t header);
void vxcrash_nasync_elf_free(vxcrash_async_elf* image);

// What can be read of the image at `header` from memory alone, without the
// file's symbol table; `name` is kept as given, not copied. Async-signal-safe.
// Not for vxcrash_nasync_elf_free: nothing of it is allocated.
vxcrash_error_t vxcrash_async_elf_init_from_memory(vxcrash_async_elf* image, vxcrash_task_t task, uint64_t header,
                                                   char* name);

bool vxcrash_async_elf_contains_address(const vxcrash_async_elf* image, uint64_t address);
// Mach CPU type and subtype for the image's machine, as the report records them.
int32_t vxcrash_async_elf_cpu_type(const vxcrash_async_elf* image);
int32_t vxcrash_async_elf_cpu_subtype(const vxcrash_async_elf* image);

vxcrash_error_t vxcrash_async_elf_map_eh_frame(const vxcrash_async_elf* image, vxcrash_async_mobject* mobj);

// The function symbol holding `pc`: the one with the largest start not above
// it, among defined functions whose size (when known) covers it.
vxcrash_error_t vxcrash_async_elf_find_symbol_by_pc(const vxcrash_async_elf* image, uint64_t pc,
                                                    vxcrash_async_elf_found_symbol_cb callback, void* ctx);
