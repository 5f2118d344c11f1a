#pragma once

#include "crash-reporting/reporter/VXCrashAsyncImageList.h"

// The process's list of loaded images that crash-time code reads. Made on
// first use with every image loaded by then; this system's loader has no
// callbacks for images added later, so refresh picks them up (the reporter
// does so when it is enabled and before each live report). Ordinary context.
vxcrash_async_image_list* vxcrash_shared_image_list();
void vxcrash_nasync_shared_image_list_refresh();
