// The POSIX back end, continued: whether a folder lies inside another, walking up through
// ".." from a descriptor of the folder itself.
#include "os.h"
#include "names.h"
#include "shared.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

static int open_below(int at, const char *name)
{
    return openat(at, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

int os_lies_inside(const char *path, const char *folder)
{
    char native[NATIVE_PATH_SIZE];
    OsFolderId outer;
    if (os_folder_id(folder, &outer) != 0 || translate_path(path, native) != 0)
        return 0;
    int fd = open_below(AT_FDCWD, native);
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0) {
        if (fd >= 0)
            close(fd);
        return 0;
    }
    // ".." of a folder reached through a link is the folder's own parent, not the link's.
    int inside = 0;
    for (;;) {
        if (static_cast<uint64_t>(st.st_dev) == outer.volume &&
            static_cast<uint64_t>(st.st_ino) == outer.index) {
            inside = 1;
            break;
        }
        struct stat up;
        int parent = open_below(fd, "..");
        if (parent < 0 || fstat(parent, &up) != 0 ||
            (up.st_dev == st.st_dev && up.st_ino == st.st_ino)) {
            if (parent >= 0)
                close(parent);
            break;
        }
        close(fd);
        fd = parent;
        st = up;
    }
    close(fd);
    return inside;
}
