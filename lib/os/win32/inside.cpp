// The Win32 back end, continued: whether a folder lies inside another, walking up the final
// path of the folder and asking each folder on it for its identity.
#include "os.h"
#include "shared.h"

#include <string.h>

// Cuts the last component off a final path ("C:\a\b" to "C:\a", "C:\a" to "C:\",
// "\\server\share\a" to "\\server\share"). 0, or -1 at a drive's root or a share.
static int cut_last(char *path)
{
    char *last = strrchr(path, '\\');
    if (last == nullptr || last[1] == '\0')
        return -1;
    if (path[0] == '\\' && path[1] == '\\') {
        int separators = 0;
        for (const char *c = path + 2; c < last; c++)
            separators += *c == '\\';
        if (separators == 0)
            return -1;
    }
    // "C:" alone would name the drive's current folder, not its root.
    if (last > path && last[-1] == ':')
        last[1] = '\0';
    else
        last[0] = '\0';
    return 0;
}

int os_lies_inside(const char *path, const char *folder)
{
    char final[OS_PATH_SIZE];
    OsFolderId outer, id;
    if (os_folder_id(folder, &outer) != 0 || os_final_path(path, final, sizeof final) != 0)
        return 0;
    do {
        if (os_folder_id(final, &id) == 0 && os_compare_folder_ids(&id, &outer) == 0)
            return 1;
    } while (cut_last(final) == 0);
    return 0;
}
