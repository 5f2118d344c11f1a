#pragma once

#include "crash-reporting/reporter/VXCrashAsyncElf.h"
#include "crash-reporting/reporter/VXCrashAsyncList.h"
#include "crash-reporting/reporter/VXCrashAsyncMachO.h"

// The images loaded in a task. Ordinary threads add and remove images; a crash
// handler walks the list without a lock between set_reading(true) and
// set_reading(false).

enum vxcrash_async_image_format_t : uint8_t {
    VXCRASH_IMAGE_FORMAT_MACHO = 1,
    VXCRASH_IMAGE_FORMAT_ELF = 2,
};

struct vxcrash_async_image {
    vxcrash_async_image_format_t format;
    vxcrash_async_macho macho; // VXCRASH_IMAGE_FORMAT_MACHO
    vxcrash_async_elf elf;     // VXCRASH_IMAGE_FORMAT_ELF
    // The list node the image was last found in, so iteration continues from it.
    async_list<vxcrash_async_image*>::node* node;
};

struct vxcrash_loader_view;

struct vxcrash_async_image_list {
    vxcrash_task_t task;
    async_list<vxcrash_async_image*>* list;
    // Removed images: a crash handler may still be reading one, so they are
    // only released with the list.
    async_list<vxcrash_async_image*>* retired;
    // Set by a sync with the loader at crash time: iteration then leaves out
    // the listed images the loader no longer has and adds the loaded images
    // the list lacks.
    const vxcrash_loader_view* loader = nullptr;
};

void vxcrash_nasync_image_list_init(vxcrash_async_image_list* list, vxcrash_task_t task);
void vxcrash_nasync_image_list_free(vxcrash_async_image_list* list);
// Parses the image at `header` (ELF or Mach-O, by its magic) and appends it;
// an image that does not parse is dropped.
void vxcrash_nasync_image_list_append(vxcrash_async_image_list* list, uint64_t header, const char* path);
void vxcrash_nasync_image_list_remove(vxcrash_async_image_list* list, uint64_t header);
// Appends every image the dynamic loader has loaded in this process that the
// list does not hold yet (the executable under its real path).
void vxcrash_nasync_image_list_add_loaded_images(vxcrash_async_image_list* list);

// Brings the list in line with the dynamic loader's own list of loaded
// objects (`_r_debug.r_map`), read with checked reads: images loaded or
// unloaded since the list was last refreshed. Async-signal-safe; only one
// thread at a time (the one writing the crash report) may call it.
void vxcrash_async_image_list_sync_with_loader(vxcrash_async_image_list* list);

void vxcrash_async_image_list_set_reading(vxcrash_async_image_list* list, bool enable);
vxcrash_async_image* vxcrash_async_image_list_next(vxcrash_async_image_list* list, vxcrash_async_image* current);
vxcrash_async_image* vxcrash_async_image_containing_address(vxcrash_async_image_list* list, uint64_t address);

// What every image answers, whatever its format.
uint64_t vxcrash_async_image_header_addr(const vxcrash_async_image* image);
uint64_t vxcrash_async_image_size(const vxcrash_async_image* image);
const char* vxcrash_async_image_name(const vxcrash_async_image* image);
int32_t vxcrash_async_image_cpu_type(const vxcrash_async_image* image);
int32_t vxcrash_async_image_cpu_subtype(const vxcrash_async_image* image);
bool vxcrash_async_image_is_64bit(const vxcrash_async_image* image);
// The image's identifier (ELF GNU build-id, Mach-O UUID) into `out` of
// `capacity` bytes; answers its length, 0 when it has none.
size_t vxcrash_async_image_uuid(const vxcrash_async_image* image, uint8_t* out, size_t capacity);
bool vxcrash_async_image_contains_address(const vxcrash_async_image* image, uint64_t address);
