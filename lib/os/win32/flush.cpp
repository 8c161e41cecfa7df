// Flushing files' data to the disk (Windows).
#include <io.h>
#include <windows.h>

#include "os.h"
#include "os_common.h"

int os_flush_file(int fd, const char *path)
{
    HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    if (handle == INVALID_HANDLE_VALUE) {
        SetLastError(ERROR_INVALID_HANDLE);
        return -1;
    }
    if (!OS_CALL(FlushFileBuffers(handle)))
        return -1;
    os_flush_observed(path);
    return 0;
}

// Windows flushes a volume whole only for an administrator (a handle on the volume itself), so
// each file is flushed on its own.
int os_flush_files(const int *fds, const char *const *paths, int32_t count, const char *folder)
{
    (void)folder;
    for (int32_t at = 0; at < count; at++)
        if (os_flush_file(fds[at], paths[at]) != 0)
            return -1;
    return 0;
}
