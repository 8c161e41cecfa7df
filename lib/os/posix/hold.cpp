// The POSIX back end, continued: folder holds, flock() on the folder's own descriptor.
#include "os.h"
#include "names.h"
#include "shared.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

// A refused hold is tried again every 2 ms, 25 times: about 50 ms in all.
enum { HOLD_TRIES = 25, HOLD_PAUSE_NS = 2000000 };

// The folder at path opened for reading, links followed, not inherited by started programs.
// A descriptor, or -1 with errno set (ENOTDIR for anything but a folder).
static int open_folder(const char *path)
{
    char native[NATIVE_PATH_SIZE];
    if (translate_path(path, native) != 0)
        return -1;
    int fd;
    while ((fd = open(native, O_RDONLY | O_DIRECTORY | O_CLOEXEC)) < 0 && errno == EINTR) {
    }
    return fd;
}

static void id_of(const struct stat *st, OsFolderId *id)
{
    id->volume = static_cast<uint64_t>(st->st_dev);
    id->index = static_cast<uint64_t>(st->st_ino);
}

int os_folder_id(const char *path, OsFolderId *id)
{
    char native[NATIVE_PATH_SIZE];
    struct stat st;
    if (translate_path(path, native) != 0 || stat(native, &st) != 0)
        return -1;
    if (!S_ISDIR(st.st_mode)) {
        errno = ENOTDIR;
        return -1;
    }
    id_of(&st, id);
    return 0;
}

// flock without waiting, again after a signal. 0, or -1 with errno set.
static int try_lock(int fd, int operation)
{
    int result;
    while ((result = flock(fd, operation | LOCK_NB)) != 0 && errno == EINTR) {
    }
    return result;
}

// Every hold of this layer also carries a mark beside its flock: a read lock of the fcntl
// kind on the same descriptor, which flock(1) and other programs that take flock leave
// alone. The mark is taken before the flock and goes with it when the descriptor closes, so
// a holder that shows no mark is no holder of ours. Where a file system keeps no such locks,
// there is no mark, and a refusal is taken as one of ours.
static void mark_hold(int fd)
{
    struct flock mark = {};
    mark.l_type = F_RDLCK;
    mark.l_whence = SEEK_SET;
    while (fcntl(fd, F_OFD_SETLK, &mark) != 0 && errno == EINTR) {
    }
}

// 1 when another descriptor of the folder open on fd carries a hold's mark, else 0.
static int marked_elsewhere(int fd)
{
    struct flock probe = {};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    if (fcntl(fd, F_OFD_GETLK, &probe) != 0)
        return 1;
    return probe.l_type != F_UNLCK;
}

int os_folder_hold(const char *path, int mode, OsFolderHold *hold)
{
    hold->handle = -1;
    int fd = open_folder(path);
    struct stat st;
    if (fd < 0)
        return -1;
    if (fstat(fd, &st) != 0) {
        int saved = errno;
        close(fd);
        errno = saved;
        return -1;
    }
    id_of(&st, &hold->id);
    mark_hold(fd);
    int operation = mode == OS_HOLD_EXCLUSIVE ? LOCK_EX : LOCK_SH;
    for (int attempt = 0; attempt < HOLD_TRIES; attempt++) {
        if (attempt > 0) {
            const struct timespec pause = {0, HOLD_PAUSE_NS};
            nanosleep(&pause, nullptr);
        }
        // A file system that cannot lock folders (NFS takes flock for a byte-range lock,
        // which a folder opened for reading cannot have) leaves the folder open but
        // unlocked: the hold excludes no one there, and the run still works.
        if (try_lock(fd, operation) == 0 || errno != EWOULDBLOCK) {
            hold->handle = fd;
            return 0;
        }
    }
    // A holder of ours that ended between the last try and the probe leaves the folder free.
    int ours = marked_elsewhere(fd);
    if (!ours && try_lock(fd, operation) == 0) {
        hold->handle = fd;
        return 0;
    }
    close(fd);
    errno = EWOULDBLOCK;
    return ours ? 1 : 2;
}

void os_folder_release(OsFolderHold *hold)
{
    if (hold->handle < 0)
        return;
    close(static_cast<int>(hold->handle));
    hold->handle = -1;
}
