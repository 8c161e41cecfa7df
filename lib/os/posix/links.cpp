// The names of an open file, and whether a folder's hold excludes others (POSIX).
#include <sys/stat.h>
#ifdef __linux__
#include <sys/vfs.h>
#endif

#include "os.h"
#include "os_common.h"

int os_file_name_count(const OsOpenFile *file)
{
    struct stat status;
    if (OS_CALL(fstat(file->fd, &status)) != 0)
        return -1;
    return status.st_nlink > 0x7fffffff ? 0x7fffffff : static_cast<int>(status.st_nlink);
}

int os_folder_hold_excludes(const OsFolderHold *hold)
{
#ifdef __linux__
    // The magic number of NFS, whose flock() on a folder takes no lock.
    const long nfs = 0x6969;
    struct statfs system;
    if (hold->handle >= 0 && fstatfs(static_cast<int>(hold->handle), &system) == 0 &&
        static_cast<long>(system.f_type) == nfs)
        return 0;
#else
    (void)hold;
#endif
    return 1;
}
