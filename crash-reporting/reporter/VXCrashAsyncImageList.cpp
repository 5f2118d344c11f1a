#include "crash-reporting/reporter/VXCrashAsyncImageList.h"

#include <link.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <vector>

void vxcrash_nasync_image_list_init(vxcrash_async_image_list* list, vxcrash_task_t task)
{
    list->task = task;
    list->list = new async_list<vxcrash_async_image*>();
    list->retired = new async_list<vxcrash_async_image*>();
}

namespace {

void freeImages(async_list<vxcrash_async_image*>* images)
{
    for (auto* n = images->head(); n; n = async_list<vxcrash_async_image*>::next(n)) {
        vxcrash_async_image* image = n->value;
        if (image->format == VXCRASH_IMAGE_FORMAT_MACHO)
            vxcrash_nasync_macho_free(&image->macho);
        else
            vxcrash_nasync_elf_free(&image->elf);
        delete image;
    }
    delete images;
}

} // namespace

void vxcrash_nasync_image_list_free(vxcrash_async_image_list* list)
{
    if (!list->list)
        return;
    freeImages(list->list);
    freeImages(list->retired);
    list->list = nullptr;
    list->retired = nullptr;
}

void vxcrash_nasync_image_list_append(vxcrash_async_image_list* list, uint64_t header, const char* path)
{
    uint8_t magic[4];
    if (vxcrash_async_task_memcpy(list->task, header, 0, magic, 4) != VXCRASH_STATUS_OK)
        return;
    auto* image = new vxcrash_async_image();
    vxcrash_error_t err;
    if (std::memcmp(magic, "\x7f" "ELF", 4) == 0) {
        image->format = VXCRASH_IMAGE_FORMAT_ELF;
        err = vxcrash_nasync_elf_init(&image->elf, list->task, path, header);
    } else {
        image->format = VXCRASH_IMAGE_FORMAT_MACHO;
        err = vxcrash_nasync_macho_init(&image->macho, list->task, path, header);
    }
    if (err != VXCRASH_STATUS_OK) {
        delete image;
        return;
    }
    list->list->nasync_append(image);
}

void vxcrash_nasync_image_list_remove(vxcrash_async_image_list* list, uint64_t header)
{
    list->list->set_reading(true);
    for (auto* n = list->list->head(); n; n = async_list<vxcrash_async_image*>::next(n)) {
        if (vxcrash_async_image_header_addr(n->value) == header) {
            // The image's parsed data stays allocated: a crash handler may be
            // reading it right now.
            list->retired->nasync_append(n->value);
            list->list->nasync_remove_node(n);
            break;
        }
    }
    list->list->set_reading(false);
}

namespace {

struct LoadedImage {
    uint64_t header;
    std::string path;
};

int collectLoadedImage(dl_phdr_info* info, size_t, void* data)
{
    auto* images = static_cast<std::vector<LoadedImage>*>(data);
    // The header sits where the segment mapping the file's start was loaded.
    for (ElfW(Half) i = 0; i < info->dlpi_phnum; ++i) {
        const ElfW(Phdr)& p = info->dlpi_phdr[i];
        if (p.p_type == PT_LOAD && p.p_offset == 0) {
            std::string path = info->dlpi_name ? info->dlpi_name : "";
            if (path.empty() && images->empty()) {
                // The first object is the executable, which the loader leaves unnamed.
                char buffer[4096];
                const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
                if (n > 0)
                    path.assign(buffer, size_t(n));
            }
            images->push_back({uint64_t(info->dlpi_addr + p.p_vaddr), path});
            break;
        }
    }
    return 0;
}

} // namespace

void vxcrash_nasync_image_list_add_loaded_images(vxcrash_async_image_list* list)
{
    std::vector<LoadedImage> loaded;
    dl_iterate_phdr(collectLoadedImage, &loaded);
    for (const LoadedImage& image : loaded) {
        bool known = false;
        list->list->set_reading(true);
        for (auto* n = list->list->head(); n && !known; n = async_list<vxcrash_async_image*>::next(n))
            known = vxcrash_async_image_header_addr(n->value) == image.header;
        list->list->set_reading(false);
        if (!known)
            vxcrash_nasync_image_list_append(list, image.header, image.path.c_str());
    }
}

void vxcrash_async_image_list_set_reading(vxcrash_async_image_list* list, bool enable)
{
    list->list->set_reading(enable);
}

vxcrash_async_image* vxcrash_async_image_list_next(vxcrash_async_image_list* list, vxcrash_async_image* current)
{
    auto* n = (!current || !current->node) ? list->list->head() : async_list<vxcrash_async_image*>::next(current->node);
    if (!n)
        return nullptr;
    n->value->node = n;
    return n->value;
}

vxcrash_async_image* vxcrash_async_image_containing_address(vxcrash_async_image_list* list, uint64_t address)
{
    for (vxcrash_async_image* image = nullptr; (image = vxcrash_async_image_list_next(list, image)) != nullptr;) {
        if (vxcrash_async_image_contains_address(image, address))
            return image;
    }
    return nullptr;
}

uint64_t vxcrash_async_image_header_addr(const vxcrash_async_image* image)
{
    return image->format == VXCRASH_IMAGE_FORMAT_MACHO ? image->macho.header_addr : image->elf.header_addr;
}

uint64_t vxcrash_async_image_size(const vxcrash_async_image* image)
{
    return image->format == VXCRASH_IMAGE_FORMAT_MACHO ? image->macho.text_size : image->elf.image_size;
}

const char* vxcrash_async_image_name(const vxcrash_async_image* image)
{
    return image->format == VXCRASH_IMAGE_FORMAT_MACHO ? image->macho.name : image->elf.name;
}

int32_t vxcrash_async_image_cpu_type(const vxcrash_async_image* image)
{
    return image->format == VXCRASH_IMAGE_FORMAT_MACHO ? vxcrash_async_macho_cpu_type(&image->macho)
                                                       : vxcrash_async_elf_cpu_type(&image->elf);
}

int32_t vxcrash_async_image_cpu_subtype(const vxcrash_async_image* image)
{
    return image->format == VXCRASH_IMAGE_FORMAT_MACHO ? vxcrash_async_macho_cpu_subtype(&image->macho)
                                                       : vxcrash_async_elf_cpu_subtype(&image->elf);
}

bool vxcrash_async_image_is_64bit(const vxcrash_async_image* image)
{
    return image->format == VXCRASH_IMAGE_FORMAT_MACHO ? image->macho.m64 : true;
}

size_t vxcrash_async_image_uuid(const vxcrash_async_image* image, uint8_t* out, size_t capacity)
{
    if (image->format == VXCRASH_IMAGE_FORMAT_MACHO) {
        uint8_t uuid[16];
        if (capacity < 16 || !vxcrash_async_macho_uuid(&image->macho, uuid))
            return 0;
        vxcrash_async_memcpy(out, uuid, 16);
        return 16;
    }
    if (image->elf.build_id_length > capacity)
        return 0;
    vxcrash_async_memcpy(out, image->elf.build_id, image->elf.build_id_length);
    return image->elf.build_id_length;
}

bool vxcrash_async_image_contains_address(const vxcrash_async_image* image, uint64_t address)
{
    return image->format == VXCRASH_IMAGE_FORMAT_MACHO ? vxcrash_async_macho_contains_address(&image->macho, address)
                                                       : vxcrash_async_elf_contains_address(&image->elf, address);
}
