#include "crash-reporting/reporter/VXCrashAsyncSymbols.h"

namespace {

constexpr size_t kNameCapacity = 256;
constexpr size_t kMaxClassNameLength = 253;

struct LookupResult {
    char name[kNameCapacity];
    bool found;
    uint64_t address;
};

void symbolTableCallback(uint64_t address, const char* name, void* ctx)
{
    auto* r = static_cast<LookupResult*>(ctx);
    if (r->found && address < r->address)
        return;
    size_t i = 0;
    for (; name[i] && i < kNameCapacity - 1; ++i)
        r->name[i] = name[i];
    r->name[i] = '\0';
    r->address = address;
    r->found = true;
}

// "-[Class method]" or "+[Class method]", cut to fit the buffer.
void objcCallback(bool isClassMethod, vxcrash_async_macho_string* className,
                  vxcrash_async_macho_string* methodName, uint64_t imp, void* ctx)
{
    auto* r = static_cast<LookupResult*>(ctx);
    if (r->found && imp < r->address)
        return;
    const char* cls;
    const char* method;
    size_t clsLength;
    size_t methodLength;
    if (vxcrash_async_macho_string_get_pointer(className, &cls) != VXCRASH_STATUS_OK ||
        vxcrash_async_macho_string_get_length(className, &clsLength) != VXCRASH_STATUS_OK ||
        vxcrash_async_macho_string_get_pointer(methodName, &method) != VXCRASH_STATUS_OK ||
        vxcrash_async_macho_string_get_length(methodName, &methodLength) != VXCRASH_STATUS_OK)
        return;
    char* out = r->name;
    size_t n = 0;
    out[n++] = isClassMethod ? '+' : '-';
    out[n++] = '[';
    for (size_t i = 0; i < clsLength && i < kMaxClassNameLength; ++i)
        out[n++] = cls[i];
    if (n < kNameCapacity - 1)
        out[n++] = ' ';
    for (size_t i = 0; i < methodLength && n < kNameCapacity - 1; ++i)
        out[n++] = method[i];
    if (kNameCapacity - n >= 2) {
        out[n++] = ']';
        out[n] = '\0';
    } else {
        out[kNameCapacity - 1] = '\0';
    }
    r->address = imp;
    r->found = true;
}

} // namespace

vxcrash_error_t vxcrash_async_symbol_cache_init(vxcrash_async_symbol_cache* cache)
{
    return vxcrash_async_objc_cache_init(cache);
}

void vxcrash_async_symbol_cache_free(vxcrash_async_symbol_cache* cache)
{
    vxcrash_async_objc_cache_free(cache);
}

vxcrash_error_t vxcrash_async_find_symbol(vxcrash_async_image* image, uint32_t strategy,
                                          vxcrash_async_symbol_cache* cache, uint64_t pc,
                                          vxcrash_async_found_symbol_cb callback, void* ctx)
{
    LookupResult result;
    result.name[0] = '\0';
    result.found = false;
    result.address = 0;
    bool anySucceeded = false;
    if (strategy & VXCRASH_ASYNC_SYMBOL_STRATEGY_SYMBOL_TABLE) {
        const vxcrash_error_t err =
            image->format == VXCRASH_IMAGE_FORMAT_MACHO
                ? vxcrash_async_macho_find_symbol_by_pc(&image->macho, pc, symbolTableCallback, &result)
                : vxcrash_async_elf_find_symbol_by_pc(&image->elf, pc, symbolTableCallback, &result);
        anySucceeded |= err == VXCRASH_STATUS_OK;
    }
    // ELF images carry no Objective-C metadata.
    if ((strategy & VXCRASH_ASYNC_SYMBOL_STRATEGY_OBJC) && image->format == VXCRASH_IMAGE_FORMAT_MACHO) {
        const vxcrash_error_t err = vxcrash_async_objc_find_method(&image->macho, cache, pc, objcCallback, &result);
        anySucceeded |= err == VXCRASH_STATUS_OK;
    }
    if (!anySucceeded)
        return VXCRASH_STATUS_NOT_FOUND;
    if (!result.found)
        return VXCRASH_STATUS_INTERNAL;
    callback(result.address, result.name, ctx);
    return VXCRASH_STATUS_OK;
}
