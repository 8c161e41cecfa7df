// Whether a folder's hold excludes others (Windows).
#include <windows.h>

#include "os.h"

int os_folder_hold_excludes(const OsFolderHold *)
{
    return 1;
}
