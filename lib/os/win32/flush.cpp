// Flushing a file's data to the disk (Windows).
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
