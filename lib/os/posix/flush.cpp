// Flushing a file's data to the disk (POSIX).
#include <errno.h>
#include <unistd.h>

#include "os.h"
#include "os_common.h"

int os_flush_file(int fd, const char *path)
{
    int result;
    do
        result = OS_CALL(fdatasync(fd));
    while (result != 0 && errno == EINTR);
    if (result != 0)
        return -1;
    os_flush_observed(path);
    return 0;
}
