#pragma once

#include "crash-reporting/reporter/VXCrashAsyncMObject.h"

// Reading a Mach-O image in a task's memory: header, load commands, segments,
// sections, the symbol table and strings. Images of that format only occur in
// synthetic memory here; the reader is the same either way.

enum : uint32_t {
    VXCRASH_MH_MAGIC = 0xFEEDFACE,
    VXCRASH_MH_CIGAM = 0xCEFAEDFE,
    VXCRASH_MH_MAGIC_64 = 0xFEEDFACF,
    VXCRASH_MH_CIGAM_64 = 0xCFFAEDFE,
    VXCRASH_LC_SEGMENT = 0x1,
    VXCRASH_LC_SYMTAB = 0x2,
    VXCRASH_LC_DYSYMTAB = 0xB,
    VXCRASH_LC_SEGMENT_64 = 0x19,
    VXCRASH_LC_UUID = 0x1B,
};

struct vxcrash_macho_header {
    uint32_t magic;
    int32_t cputype;
    int32_t cpusubtype;
    uint32_t filetype;
    uint32_t ncmds;
    uint32_t sizeofcmds;
    uint32_t flags;
    uint32_t reserved; // 64-bit images only
};

struct vxcrash_async_macho {
    vxcrash_task_t task;
    uint64_t header_addr;
    int64_t vmaddr_slide;
    char* name;
    vxcrash_macho_header header; // as stored, not byte-swapped
    uint32_t header_size;
    uint32_t ncmds;
    vxcrash_async_mobject load_cmds;
    uint64_t text_vmaddr;
    uint64_t text_size;
    bool m64;
    const vxcrash_async_byteorder* byteorder;
};

struct vxcrash_async_macho_mapped_segment {
    vxcrash_async_mobject mobj;
    uint64_t fileoff;
    uint64_t filesize;
};

struct vxcrash_async_macho_symtab_entry {
    uint32_t n_strx;
    uint8_t n_type;
    uint8_t n_sect;
    uint16_t n_desc;
    uint64_t n_value;
    uint64_t normalized_value;
};

struct vxcrash_async_macho_symtab_reader {
    vxcrash_async_macho* image;
    vxcrash_async_macho_mapped_segment linkedit;
    void* symtab;
    uint32_t nsymbols;
    void* symtab_global;
    uint32_t nsyms_global;
    void* symtab_local;
    uint32_t nsyms_local;
    char* string_table;
    size_t string_table_size;
};

struct vxcrash_async_macho_string {
    vxcrash_async_macho* image;
    uint64_t address;
    vxcrash_async_mobject mobj;
    bool loaded;
    size_t length;
};

typedef void (*vxcrash_async_macho_found_symbol_cb)(uint64_t address, const char* name, void* ctx);

vxcrash_error_t vxcrash_nasync_macho_init(vxcrash_async_macho* image, vxcrash_task_t task, const char* path,
                                          uint64_t header);
void vxcrash_nasync_macho_free(vxcrash_async_macho* image);

const vxcrash_async_byteorder* vxcrash_async_macho_byteorder(const vxcrash_async_macho* image);
const vxcrash_macho_header* vxcrash_async_macho_header(const vxcrash_async_macho* image);
uint32_t vxcrash_async_macho_header_size(const vxcrash_async_macho* image);
int32_t vxcrash_async_macho_cpu_type(const vxcrash_async_macho* image);
int32_t vxcrash_async_macho_cpu_subtype(const vxcrash_async_macho* image);
bool vxcrash_async_macho_contains_address(const vxcrash_async_macho* image, uint64_t address);

void* vxcrash_async_macho_next_command(const vxcrash_async_macho* image, void* previous);
void* vxcrash_async_macho_next_command_type(const vxcrash_async_macho* image, void* previous, uint32_t type);
void* vxcrash_async_macho_find_command(const vxcrash_async_macho* image, uint32_t type);
void* vxcrash_async_macho_find_segment_cmd(const vxcrash_async_macho* image, const char* segname);

vxcrash_error_t vxcrash_async_macho_map_segment(const vxcrash_async_macho* image, const char* segname,
                                                vxcrash_async_macho_mapped_segment* seg);
void vxcrash_async_macho_mapped_segment_free(vxcrash_async_macho_mapped_segment* seg);
vxcrash_error_t vxcrash_async_macho_map_section(const vxcrash_async_macho* image, const char* segname,
                                                const char* sectname, vxcrash_async_mobject* mobj);

// The 16 bytes of the image's LC_UUID command; false when it has none.
bool vxcrash_async_macho_uuid(const vxcrash_async_macho* image, uint8_t uuid[16]);

vxcrash_error_t vxcrash_async_macho_symtab_reader_init(vxcrash_async_macho_symtab_reader* reader,
                                                       vxcrash_async_macho* image);
vxcrash_async_macho_symtab_entry vxcrash_async_macho_symtab_reader_read(vxcrash_async_macho_symtab_reader* reader,
                                                                          void* symtab, uint32_t index);
const char* vxcrash_async_macho_symtab_reader_symbol_name(vxcrash_async_macho_symtab_reader* reader,
                                                          uint32_t n_strx);
void vxcrash_async_macho_symtab_reader_free(vxcrash_async_macho_symtab_reader* reader);

vxcrash_error_t vxcrash_async_macho_find_symbol_by_pc(vxcrash_async_macho* image, uint64_t pc,
                                                      vxcrash_async_macho_found_symbol_cb callback, void* ctx);
vxcrash_error_t vxcrash_async_macho_find_symbol_by_name(vxcrash_async_macho* image, const char* name,
                                                        uint64_t* address);

vxcrash_error_t vxcrash_async_macho_string_init(vxcrash_async_macho_string* string, vxcrash_async_macho* image,
                                                uint64_t address);
vxcrash_error_t vxcrash_async_macho_string_get_length(vxcrash_async_macho_string* string, size_t* length);
vxcrash_error_t vxcrash_async_macho_string_get_pointer(vxcrash_async_macho_string* string, const char** pointer);
void vxcrash_async_macho_string_free(vxcrash_async_macho_string* string);
