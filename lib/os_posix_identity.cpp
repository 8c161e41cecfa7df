// The POSIX back end, continued: what makes an entry the one it is (device and inode).
#include "os.h"
#include "os_posix_names.h"
#include "os_posix_translate.h"

#include <errno.h>
#include <sys/stat.h>

int os_file_id(const char *path, OsFileId *id)
{
    char native[NATIVE_PATH_SIZE];
    NativeLookup lookup;
    struct stat st;
    if (translate_path(path, native, 0, &lookup) != 0)
        return -1;
    if (lookup.found == NAMES_EXISTS)
        st = lookup.st;
    else if (lookup.found == NAMES_MISSING || lstat(native, &st) != 0) {
        errno = ENOENT;
        return -1;
    }
    id->volume = static_cast<uint64_t>(st.st_dev);
    id->index = static_cast<uint64_t>(st.st_ino);
    return 0;
}
