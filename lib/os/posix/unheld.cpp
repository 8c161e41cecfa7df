// Whether a folder's hold excludes others (POSIX).
#ifdef __linux__
#include <sys/vfs.h>
#endif

#include "os.h"

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
