// Flushing files' data to the disk (POSIX).
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

// One syncfs costs about what one fdatasync does (a journal commit and the disk's cache
// flushed), where an fdatasync of each file would cost that per file.
int os_flush_files(const int *fds, const char *const *paths, int32_t count, const char *folder)
{
    (void)paths;
    if (count <= 0)
        return 0;
    int result;
    do
        result = OS_CALL(syncfs(fds[0]));
    while (result != 0 && errno == EINTR);
    if (result != 0)
        return -1;
    os_flush_observed(folder);
    return 0;
}
