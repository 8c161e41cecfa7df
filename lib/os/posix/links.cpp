// The names of an open file (POSIX).
#include <sys/stat.h>

#include "os.h"
#include "os_common.h"

int os_file_name_count(const OsOpenFile *file)
{
    struct stat status;
    if (OS_CALL(fstat(file->fd, &status)) != 0)
        return -1;
    return status.st_nlink > 0x7fffffff ? 0x7fffffff : static_cast<int>(status.st_nlink);
}
