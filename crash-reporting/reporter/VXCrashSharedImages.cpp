#include "crash-reporting/reporter/VXCrashSharedImages.h"

#include "crash-reporting/reporter/VXCrashInfoMessage.h"

#include <mutex>

namespace {

std::once_flag g_once;
vxcrash_async_image_list* g_list = nullptr;
std::mutex g_refreshMutex;

} // namespace

vxcrash_async_image_list* vxcrash_shared_image_list()
{
    std::call_once(g_once, [] {
        // Never freed: crash-time code may read it until the process is gone.
        g_list = new vxcrash_async_image_list();
        vxcrash_nasync_image_list_init(g_list, vxcrash_async_task_self());
        vxcrash_nasync_image_list_add_loaded_images(g_list);
        vxcrash_nasync_abort_message_init();
    });
    return g_list;
}

void vxcrash_nasync_shared_image_list_refresh()
{
    vxcrash_async_image_list* list = vxcrash_shared_image_list();
    std::lock_guard lock(g_refreshMutex);
    vxcrash_nasync_image_list_add_loaded_images(list);
}
