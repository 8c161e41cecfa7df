// The Win32 back end, continued: files of a held folder, named by the held folder's final
// path (nobody renames or removes a held folder) and proven on their handles to lie in it.
#include "os.h"
#include "shared.h"

#include <io.h>
#include <windows.h>

// Joins the held folder's final path and the entry name into path (OS_PATH_SIZE bytes).
// 0, or -1.
static int entry_path(const OsHeldFolder *folder, const char *name, char *path)
{
    return is_entry_name(name) && join(path, folder->path, name) == 0 ? 0 : -1;
}

int os_held_open_file(OsHeldFolder *folder, const char *name, int for_writing, OsOpenFile *file)
{
    file->fd = -1;
    char path[OS_PATH_SIZE];
    if (entry_path(folder, name, path) != 0 || os_open_file(path, for_writing, file) != 0)
        return -1;
    // A link, or a Linux link that Wine shows as a plain file, may lead elsewhere.
    if (lies_inside(reinterpret_cast<HANDLE>(_get_osfhandle(file->fd)), folder->path))
        return 0;
    os_close(file->fd);
    file->fd = -1;
    SetLastError(ERROR_ACCESS_DENIED);
    return -1;
}

int os_held_file_is_still_at(OsHeldFolder *folder, const char *name, const OsOpenFile *file)
{
    char path[OS_PATH_SIZE];
    return entry_path(folder, name, path) == 0 ? os_file_is_still_at(file, path, folder->path)
                                               : 0;
}

int os_held_create_new(OsHeldFolder *folder, const char *name)
{
    char path[OS_PATH_SIZE];
    // CREATE_NEW refuses any existing entry, a link (dangling or not) included.
    return entry_path(folder, name, path) == 0 ? os_create_new(path) : -1;
}

int os_held_delete_created(OsHeldFolder *folder, int fd, const char *name)
{
    char path[OS_PATH_SIZE];
    if (entry_path(folder, name, path) == 0)
        return os_delete_created(fd, path);
    DWORD error = GetLastError();
    os_close(fd);
    SetLastError(error);
    return -1;
}

int os_held_rename(OsHeldFolder *folder, const char *from, const char *to)
{
    // Windows renames a link as itself; Wine renames what a Linux link leads to, so the entry
    // must be the one named there.
    char source[OS_PATH_SIZE], target[OS_PATH_SIZE];
    if (entry_path(folder, from, source) != 0 || entry_path(folder, to, target) != 0 ||
        !is_itself_at(source))
        return -1;
    return os_rename_no_replace(source, target);
}
