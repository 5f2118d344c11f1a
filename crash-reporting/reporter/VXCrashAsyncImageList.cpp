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

// What the loader had at the last sync. Static: it is filled inside a signal
// handler, which cannot allocate, by the one thread that writes the report.
struct vxcrash_loader_view {
    static constexpr size_t kMaxLoaded = 2048;
    static constexpr size_t kMaxAdded = 64;
    static constexpr size_t kMaxNameBytes = 512;
    struct Loaded {
        uint64_t bias;
        uint64_t nameHash;
        bool unnamed;
        bool listed;
        uint64_t nameAddress;
    };
    Loaded loaded[kMaxLoaded];
    size_t loadedCount;
    // Listed images the loader no longer has.
    const vxcrash_async_image* gone[kMaxLoaded];
    size_t goneCount;
    // Loaded images the list lacks, read from memory.
    vxcrash_async_image added[kMaxAdded];
    char addedNames[kMaxAdded][kMaxNameBytes];
    size_t addedCount;
};

namespace {

vxcrash_loader_view g_loaderView;

uint64_t hashName(const char* name, size_t length)
{
    uint64_t hash = 0xcbf29ce484222325ULL;
    for (size_t i = 0; i < length && name[i]; ++i)
        hash = (hash ^ uint8_t(name[i])) * 0x100000001b3ULL;
    return hash;
}

// The name at `address` in the task into `buffer`, NUL-terminated; false
// when it cannot be read.
bool readName(vxcrash_task_t task, uint64_t address, char* buffer, size_t capacity)
{
    buffer[0] = '\0';
    if (!address)
        return false;
    vxcrash_error_t status = VXCRASH_STATUS_OK;
    const size_t got = vxcrash_async_task_read_partial(task, address, buffer, capacity - 1, &status);
    buffer[got] = '\0';
    return got > 0 || status == VXCRASH_STATUS_OK;
}

bool isGone(const vxcrash_async_image_list* list, const vxcrash_async_image* image)
{
    const vxcrash_loader_view* view = list->loader;
    if (!view)
        return false;
    for (size_t i = 0; i < view->goneCount; ++i) {
        if (view->gone[i] == image)
            return true;
    }
    return false;
}

} // namespace

void vxcrash_async_image_list_sync_with_loader(vxcrash_async_image_list* list)
{
    vxcrash_loader_view& view = g_loaderView;
    list->loader = nullptr;
    view.loadedCount = 0;
    view.goneCount = 0;
    view.addedCount = 0;

    // The loader's chain of objects, in load order; the first is the executable.
    uint64_t entry = 0;
    if (vxcrash_async_task_memcpy(list->task, uint64_t(uintptr_t(&_r_debug.r_map)), 0, &entry, sizeof entry)
        != VXCRASH_STATUS_OK)
        return;
    char name[vxcrash_loader_view::kMaxNameBytes];
    while (entry && view.loadedCount < vxcrash_loader_view::kMaxLoaded) {
        link_map map;
        if (vxcrash_async_task_memcpy(list->task, entry, 0, &map, sizeof map) != VXCRASH_STATUS_OK)
            break;
        const uint64_t nameAddress = uint64_t(uintptr_t(map.l_name));
        readName(list->task, nameAddress, name, sizeof name);
        view.loaded[view.loadedCount++] = {uint64_t(map.l_addr), hashName(name, sizeof name), name[0] == '\0', false,
                                           nameAddress};
        entry = uint64_t(uintptr_t(map.l_next));
    }
    if (view.loadedCount == 0)
        return;

    // A listed image stays when the loader has an object with its bias and
    // its name; an unloaded one is left out even when another object now
    // sits at its address. The executable is unnamed in the loader's list.
    list->list->set_reading(true);
    for (auto* n = list->list->head(); n; n = async_list<vxcrash_async_image*>::next(n)) {
        const vxcrash_async_image* image = n->value;
        if (image->format != VXCRASH_IMAGE_FORMAT_ELF)
            continue;
        const char* listedName = image->elf.name ? image->elf.name : "";
        const uint64_t listedHash = hashName(listedName, size_t(-1));
        bool loaded = false;
        for (size_t i = 0; i < view.loadedCount && !loaded; ++i) {
            vxcrash_loader_view::Loaded& object = view.loaded[i];
            if (uint64_t(image->elf.load_bias) == object.bias && (object.unnamed || object.nameHash == listedHash)) {
                object.listed = true;
                loaded = true;
            }
        }
        if (!loaded && view.goneCount < vxcrash_loader_view::kMaxLoaded)
            view.gone[view.goneCount++] = image;
    }
    list->list->set_reading(false);

    // Loaded objects the list lacks. A shared object's header sits at its
    // bias, since its first segment maps the file's start at address 0.
    for (size_t i = 0; i < view.loadedCount && view.addedCount < vxcrash_loader_view::kMaxAdded; ++i) {
        const vxcrash_loader_view::Loaded& object = view.loaded[i];
        if (object.listed || object.unnamed)
            continue;
        char* addedName = view.addedNames[view.addedCount];
        readName(list->task, object.nameAddress, addedName, vxcrash_loader_view::kMaxNameBytes);
        vxcrash_async_image& image = view.added[view.addedCount];
        image.format = VXCRASH_IMAGE_FORMAT_ELF;
        image.node = nullptr;
        if (vxcrash_async_elf_init_from_memory(&image.elf, list->task, object.bias, addedName) == VXCRASH_STATUS_OK
            && uint64_t(image.elf.load_bias) == object.bias)
            ++view.addedCount;
    }
    list->loader = &view;
}

void vxcrash_async_image_list_set_reading(vxcrash_async_image_list* list, bool enable)
{
    list->list->set_reading(enable);
}

vxcrash_async_image* vxcrash_async_image_list_next(vxcrash_async_image_list* list, vxcrash_async_image* current)
{
    vxcrash_loader_view* view = const_cast<vxcrash_loader_view*>(list->loader);
    // After the listed images come the ones a sync with the loader added.
    size_t added = 0;
    if (view && current && current >= view->added && current < view->added + view->addedCount) {
        added = size_t(current - view->added) + 1;
    } else {
        auto* n = (!current || !current->node) ? list->list->head()
                                                : async_list<vxcrash_async_image*>::next(current->node);
        while (n && isGone(list, n->value))
            n = async_list<vxcrash_async_image*>::next(n);
        if (n) {
            n->value->node = n;
            return n->value;
        }
    }
    return view && added < view->addedCount ? &view->added[added] : nullptr;
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
