// The record of flushes that tests replay to see what a disk would hold after a power loss:
// a file's path, or a folder's when one flush wrote out every file under it.
#include "os.h"

static OsFlushObserver flush_observer = nullptr;
static void *flush_context = nullptr;

void os_observe_flushes(OsFlushObserver observer, void *context)
{
    flush_observer = observer;
    flush_context = context;
}

void os_flush_observed(const char *path)
{
    if (flush_observer)
        flush_observer(path, flush_context);
}
